#pragma once

namespace pictrim::ui {

// Makes everything Qt draws itself (the file dialog and its type names, the
// message boxes' buttons and their Y/N shortcuts, the edit fields' context
// menus, dates and sizes) read Japanese like the dialog, whatever the user's
// locale; the file dialog's own dates and sizes, which Qt writes in the
// process's locale, are QtFileChooser's part. False, with Qt's English left
// in place, when Qt's Japanese catalogue is not installed. Once per
// application; later calls change nothing.
bool InstallQtJapanese();

}  // namespace pictrim::ui
