#include "qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <string_view>
#include <utility>

namespace pictrim::ui {

namespace {

// The file dialog's type names that Qt's own Japanese catalogue (Qt 6.4)
// lacks, in that catalogue's words (フォルダ, as in 新しいフォルダの作成).
class FileTypeNames : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* sourceText, const char*, int) const override {
        static constexpr std::pair<std::string_view, const char*> kNames[] = {
            {"Folder", "フォルダ"}, {"Drive", "ドライブ"},       {"File", "ファイル"},
            {"Unknown", "不明"},    {"Shortcut", "ショートカット"},
        };
        if (context == nullptr || sourceText == nullptr || std::string_view(context) != "QAbstractFileIconProvider")
            return {};
        for (const auto& [english, japanese] : kNames) {
            if (english == sourceText) return QString::fromUtf8(japanese);
        }
        return {};
    }
};

}  // namespace

bool InstallQtJapanese() {
    static bool installed = false;
    if (installed) return true;
    // Owned by the application, which removes it when it ends.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(new FileTypeNames(QCoreApplication::instance()));
    QCoreApplication::installTranslator(translator);
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    installed = true;
    return true;
}

}  // namespace pictrim::ui
