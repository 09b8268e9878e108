#pragma once

namespace pictrim::platform {

// Makes everything Qt draws itself (the file dialog, the message boxes'
// buttons and their Y/N shortcuts, the edit fields' context menus, dates and
// sizes) read Japanese like the dialog, whatever the user's locale. False,
// with Qt's English left in place, when Qt's Japanese catalogue is not
// installed. Once per application; later calls change nothing.
bool InstallQtJapanese();

}  // namespace pictrim::platform
