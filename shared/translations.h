#pragma once

class QCoreApplication;

namespace tamlo {

// Qt's own dialogs and buttons (file, colour and print dialogs, message box buttons, the edit
// menus) in the interface's language, Chinese, from Qt's translations (Debian's
// qt6-translations-l10n). Without them they stay English; returns whether they were found.
bool installQtTranslations(QCoreApplication& app);

}  // namespace tamlo
