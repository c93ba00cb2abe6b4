#include "shared/historyprogram.h"
#include "viewer/tform1.h"
#include "viewer/viewerexport.h"

int main(int argc, char** argv) {
    return tamlo::runHistoryProgram<tamlo::viewer::TForm1>(
        argc, argv,
        {QStringLiteral("tamlo_view"), QStringLiteral("FILE.nv"), false,
         QStringLiteral("NorvikDCS"), &tamlo::viewer::StationExportJob::open});
}
