#pragma once

namespace pictrim::ui {

// The dialog template names the Windows font "ＭＳ Ｐゴシック". Maps it to a
// Japanese Gothic font with its metrics where one is installed (IPAPGothic
// first); elsewhere font matching falls back to the desktop's own font.
void MapTemplateFonts();

}  // namespace pictrim::ui
