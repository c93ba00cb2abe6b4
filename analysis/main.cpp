#include "analysis/recorderexport.h"
#include "analysis/tform1.h"
#include "shared/historyprogram.h"

int main(int argc, char** argv) {
    return tamlo::runHistoryProgram<tamlo::analysis::TForm1>(
        argc, argv,
        {QStringLiteral("tamlo_ana"), QStringLiteral("FILE.dat"), true, QString(),
         tamlo::analysis::openRecorderExport});
}
