#include "template_font.h"

#include <QFont>
#include <QString>
#include <QStringList>

namespace pictrim::ui {

void MapTemplateFonts() {
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"),
                               {QStringLiteral("IPAPGothic"), QStringLiteral("IPAexGothic"),
                                QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic")});
}

}  // namespace pictrim::ui
