// The dialog and its drop fields, driven as a user would.
#include <QAccessible>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QMap>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTreeView>
#include <QtTest>

#include <atomic>
#include <filesystem>

#include "bmp_fixture.h"
#include "platform/source_file.h"
#include "ui/qt/file_chooser.h"
#include "ui/qt/qt_translations.h"
#include "ui/qt/drop_edit.h"
#include "ui/qt/main_app.h"
#include "ui/qt/main_dlg.h"

namespace fs = std::filesystem;
namespace test = pictrim::test;
using pictrim::CDropEdit, pictrim::CMainDlg;
using test::Bytes, test::kOld;

namespace {

// Watches for modal message boxes, records their texts and presses the
// button the policy picks (NoButton leaves the box up).
class ModalAnswerer {
public:
    explicit ModalAnswerer(std::function<QMessageBox::StandardButton(QMessageBox*)> policy) {
        QObject::connect(&m_timer, &QTimer::timeout, [this, policy] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts.append(box->text());
                if (QAbstractButton* button = box->button(policy(box))) button->click();
            }
        });
        m_timer.start(5);
    }
    QStringList texts;

private:
    QTimer m_timer;
};

// Stands in for the file dialog: records what was proposed, answers from a
// script (nothing: cancelled).
class FakeChooser : public pictrim::ui::FileChooser {
public:
    std::optional<QString> ChooseBitmap(QWidget*, const QString& proposed) override {
        proposals.append(proposed);
        return answer;
    }
    QStringList proposals;
    std::optional<QString> answer;
};

// The drag-enter and drop that the desktop sends, of files or, with no
// paths, of text; true when the drop is taken.
bool Drop(QWidget* target, const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& p : paths) urls << (p.startsWith("http") ? QUrl(p) : QUrl::fromLocalFile(p));
    if (!urls.isEmpty()) data.setUrls(urls);
    data.setText("/pics/dragged.bmp");
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    if (enter.isAccepted()) QApplication::sendEvent(target, &drop);
    return enter.isAccepted() && drop.isAccepted();
}

}  // namespace

class TestMainDlg : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempDir> m_dir;
    bool m_japanese = false;
    FakeChooser m_chooser;
    std::unique_ptr<CMainDlg> m_dlg;

    QPushButton* Button(const char* name) { return m_dlg->findChild<QPushButton*>(name); }
    CDropEdit* Src() { return m_dlg->findChild<CDropEdit*>("IDC_SRC_EDIT"); }
    CDropEdit* Dst() { return m_dlg->findChild<CDropEdit*>("IDC_DST_EDIT"); }
    QString Path(const std::string& name) { return QString::fromStdString(*m_dir / name); }
    void Start(const std::string& src, const std::string& dst, const QString& ratio) {
        Src()->setText(Path(src));
        Dst()->setText(Path(dst));
        m_dlg->findChild<QComboBox*>("IDC_RATIO")->setCurrentText(ratio);
        QTest::mouseClick(Button("IDC_EXECUTE"), Qt::LeftButton);
    }

private slots:
    void initTestCase() {
        // Qt's file dialog keeps its column widths between runs, in settings
        // that test mode keeps apart from the user's; each run starts from
        // Qt's own widths.
        QStandardPaths::setTestModeEnabled(true);
        QSettings(QSettings::UserScope, "QtProject").remove("FileDialog");
        m_japanese = pictrim::ui::InstallQtJapanese();
    }
    void init() {
        m_dir = std::make_unique<test::TempDir>();
        m_chooser = FakeChooser();
        m_dlg = std::make_unique<CMainDlg>(nullptr, &m_chooser);
    }
    void cleanup() {
        m_dlg.reset();  // stops its jobs before their folder goes
        pictrim::platform::SetBeforeReadHookForTesting({});
    }

    // The template's state at start: title, ratio list, Execute as the
    // disabled default button, the edit fields' 512-character limit.
    void startState() {
        QCOMPARE(m_dlg->windowTitle(), QString("Pictrim - v.0.17.02"));
        QVERIFY(!Button("IDC_EXECUTE")->isEnabled() && Button("IDC_EXECUTE")->isDefault());
        auto* ratio = m_dlg->findChild<QComboBox*>("IDC_RATIO");
        QCOMPARE(ratio->currentText(), QString("50%"));
        const QList<int> percents{5, 10, 20, 25, 33, 50, 200};
        QCOMPARE(ratio->count(), percents.size());
        for (int i = 0; i < ratio->count(); ++i) QCOMPARE(ratio->itemData(i).toInt(), percents[i]);
        QTest::keyClicks(Src(), QString(600, QChar('a')));
        QCOMPARE(Src()->text().size(), 512);
    }

    // What assistive technology reads for each control, through Qt's
    // accessibility interface: each field and browse button says which file
    // it is for, the ratio list is labelled by its caption. The captions and
    // the tab order stay as they were.
    void accessibleNames() {
        m_dlg->show();
        const auto name = [](QObject* control) {
            return QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name);
        };
        const std::pair<const char*, QString> named[] = {
            {"IDC_SRC_EDIT", "変換元ファイル"}, {"IDC_SRC_BROWSE", "変換元ファイルを参照"},
            {"IDC_DST_EDIT", "変換先ファイル"}, {"IDC_DST_BROWSE", "変換先ファイルを参照"},
            {"IDC_EXECUTE", "実行"},          {"IDC_EXIT", "終了"},
        };
        QStringList tabOrder;
        for (const auto& [object, expected] : named) {
            QWidget* control = m_dlg->findChild<QWidget*>(object);
            QCOMPARE(name(control), expected);
            tabOrder << object;
        }
        tabOrder << "IDC_RATIO";
        QCOMPARE(Button("IDC_SRC_BROWSE")->text(), QString("...参照"));
        QCOMPARE(Button("IDC_DST_BROWSE")->text(), QString("...参照"));

        QAccessibleInterface* ratio = QAccessible::queryAccessibleInterface(m_dlg->findChild<QComboBox*>("IDC_RATIO"));
        const auto labels = ratio->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels[0].first->text(QAccessible::Name), QString("縮小率(%)"));

        QStringList chain;
        QWidget* widget = Src();
        do {
            if (widget->objectName().startsWith("IDC_")) chain << widget->objectName();
            widget = widget->nextInFocusChain();
        } while (widget != Src());
        QCOMPARE(chain, tabOrder);
    }

    // Browsing proposes the field's own path for the source, the source's
    // for the destination; a cancelled choice changes nothing.
    void browsing() {
        m_chooser.answer = Path("a.bmp");
        QTest::mouseClick(Button("IDC_SRC_BROWSE"), Qt::LeftButton);
        QCOMPARE(Src()->text(), Path("a.bmp"));
        Dst()->setText(Path("keep.bmp"));
        m_chooser.answer.reset();
        QTest::mouseClick(Button("IDC_DST_BROWSE"), Qt::LeftButton);
        QCOMPARE(m_chooser.proposals, QStringList({"", Path("a.bmp")}));
        QCOMPARE(Dst()->text(), Path("keep.bmp"));
    }

    // The real file dialog (Qt's own here) lists sizes, types and dates in
    // the dialog's language, not the process's locale, each column wide
    // enough for its texts and all of them in view.
    void fileDialogList() {
        if (!m_japanese) QSKIP("Qt's Japanese catalogue is not installed");
        test::WriteFileBytes(*m_dir / "a.bmp", test::EncodeBmp(test::RandomPicture(200, 150, 1)));
        fs::create_directory(m_dir->path() / "sub");
        QMap<QString, QStringList> rows;  // by name: the model may not have sorted them yet
        QStringList clipped;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            auto* view = dialog ? dialog->findChild<QTreeView*>() : nullptr;
            if (view == nullptr) return dialog ? dialog->reject() : void();
            static_cast<void>(QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) == 2; }, 60000));
            const QHeaderView* header = view->header();
            const int margin = 2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1);
            for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
                QStringList texts;
                for (int column = 0; column < 4; ++column) {
                    texts << view->model()->index(row, column, view->rootIndex()).data().toString();
                    const int needed = view->fontMetrics().horizontalAdvance(texts.back()) + margin;
                    if (column > 0 && needed > header->sectionSize(column)) clipped << texts.back();
                }
                rows.insert(texts[0], texts);
            }
            if (header->sectionViewportPosition(3) + header->sectionSize(3) > view->viewport()->width())
                clipped << "the date column out of view";
            dialog->reject();
        });
        QVERIFY(!pictrim::ui::QtFileChooser().ChooseBitmap(nullptr, Path("a.bmp")));
        const QLocale japanese(QLocale::Japanese, QLocale::Japan);
        const auto date = [&](const char* name) {
            return japanese.toString(QFileInfo(Path(name)).lastModified(), QLocale::ShortFormat);
        };
        QCOMPARE(rows.keys(), QStringList({"a.bmp", "sub"}));
        QCOMPARE(rows["sub"], QStringList({"sub", "", "フォルダ", date("sub")}));
        const QStringList& file = rows["a.bmp"];
        QCOMPARE(file.mid(0, 2), QStringList({"a.bmp", japanese.formattedDataSize(QFileInfo(Path("a.bmp")).size())}));
        QCOMPARE(file[3], date("a.bmp"));
        QVERIFY2(QRegularExpression(R"(^\d{4}/\d{2}/\d{2} \d{1,2}:\d{2}$)").match(file[3]).hasMatch(), qPrintable(file[3]));
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(", ")));
    }

    // Converted from the dialog; then again onto the new file, where the
    // question comes first and "No" changes nothing.
    void conversionAndOverwriteQuestion() {
        const test::Picture picture = test::RandomPicture(40, 30, 4);
        test::WriteFileBytes(*m_dir / "a.bmp", test::EncodeBmp(picture));
        QStringList buttons;
        ModalAnswerer answerer([&](QMessageBox* box) {
            if (!box->button(QMessageBox::No)) return QMessageBox::Ok;
            for (const QAbstractButton* button : box->buttons()) buttons << button->text();
            return QMessageBox::No;
        });
        for (int run = 0; run < 2; ++run) {
            Start("a.bmp", "out.bmp", "25%");
            QTRY_VERIFY(!m_dlg->HasRunningJob() && Button("IDC_EXECUTE")->isEnabled());
        }
        const QString question = Path("out.bmp") + " は既に存在します。上書きしますか？";
        QCOMPARE(answerer.texts, QStringList({"完了しました。", question}));
        QVERIFY(test::ReadFileBytes(*m_dir / "out.bmp") == test::ExpectedOutput(picture, 3));
        // Qt's own buttons speak the dialog's language where its catalogue is installed.
        buttons.sort();
        if (QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_ja.qm")) {
            QCOMPARE(buttons, QStringList({"いいえ(&N)", "はい(&Y)"}));
        }
    }

    // While a job runs the dialog shows the busy cursor (its notice the
    // arrow) and Execute stays off whatever the fields do, a second click
    // included; at the end, whatever the outcome, the cursor comes back and
    // the Execute rule decides on the fields as they are then.
    void duringAndAfterAJob_data() {
        QTest::addColumn<QString>("src");
        QTest::addColumn<QString>("dst");
        QTest::addColumn<QString>("notice");
        QTest::addColumn<QString>("dstMeanwhile");
        QTest::addColumn<bool>("enabledAfter");
        QTest::newRow("completed") << "a.bmp" << "out.bmp" << "完了しました。" << "other.bmp" << true;
        QTest::newRow("refused") << "text.bmp" << "out.bmp" << "Bitmapファイル以外には対応していません。" << "" << false;
        QTest::newRow("failed") << "a.bmp" << "no/out.bmp" << " - ファイルが開けません。" << "a.bmp" << false;
    }
    void duringAndAfterAJob() {
        QFETCH(QString, src);
        QFETCH(QString, dst);
        QFETCH(QString, notice);
        QFETCH(QString, dstMeanwhile);
        QFETCH(bool, enabledAfter);
        test::WriteFileBytes(*m_dir / "a.bmp", test::EncodeBmp(test::RandomPicture(8, 8, 1)));
        test::WriteFileBytes(*m_dir / "text.bmp", kOld);
        std::tuple<Qt::CursorShape, Qt::CursorShape, bool> whileUp;
        ModalAnswerer answerer([&](QMessageBox* box) {
            Dst()->setText(dstMeanwhile.isEmpty() ? dstMeanwhile : Path(dstMeanwhile.toStdString()));
            whileUp = {m_dlg->cursor().shape(), box->cursor().shape(), Button("IDC_EXECUTE")->isEnabled()};
            return QMessageBox::Ok;
        });
        m_dlg->show();
        QApplication::setActiveWindow(m_dlg.get());
        Button("IDC_EXECUTE")->setFocus();
        Start(src.toStdString(), dst.toStdString(), "50%");
        QVERIFY(!Button("IDC_EXIT")->hasFocus());  // where an Enter would end the program
        QTest::mouseClick(Button("IDC_EXECUTE"), Qt::LeftButton);
        // A notice is answered before its job goes on, so every notice is in
        // once the job's end has reached the dialog and taken the busy cursor.
        QTRY_VERIFY(!m_dlg->HasRunningJob() && m_dlg->cursor().shape() == Qt::ArrowCursor);
        QCOMPARE(answerer.texts.size(), 1);
        QVERIFY2(answerer.texts[0].endsWith(notice), qPrintable(answerer.texts[0]));
        QCOMPARE(whileUp, std::tuple(Qt::BusyCursor, Qt::ArrowCursor, false));
        QCOMPARE(m_dlg->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(Button("IDC_EXECUTE")->isEnabled(), enabledAfter);
    }

    // Closed while the overwrite question is up (run 0), or after Yes once
    // the job has read the source a few times, by close() or Esc: the job
    // stops, leaving the destination as it was, or complete (the size its
    // header states) where it was first.
    void closingDuringAJob() {
        test::WriteFileBytes(*m_dir / "big.bmp", test::EncodeBmp(test::RandomPicture(2000, 1500, 3)));
        QRandomGenerator rng(20261206);
        static std::atomic<int> reads = 0;  // outlives the hook, whatever fails here
        pictrim::platform::SetBeforeReadHookForTesting([] { ++reads; });
        for (int run = 0; run < 12; ++run) {
            test::WriteFileBytes(*m_dir / "out.bmp", kOld);
            m_dlg = std::make_unique<CMainDlg>();
            m_dlg->show();
            ModalAnswerer answerer([&](QMessageBox* box) {
                if (run > 0) return box->button(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
                m_dlg->close();
                return QMessageBox::NoButton;
            });
            reads = 0;
            Start("big.bmp", "out.bmp", QStringList{"5%", "50%", "200%"}[rng.bounded(3)]);
            const int readsBefore = 1 + static_cast<int>(rng.bounded(4));
            if (run > 0) QTRY_VERIFY(reads >= readsBefore || !m_dlg->HasRunningJob());
            if (run % 2 == 0) {
                m_dlg->close();
            } else {
                QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
            }
            QVERIFY(!m_dlg->isVisible() && !m_dlg->HasRunningJob());
            const Bytes out = test::ReadFileBytes(*m_dir / "out.bmp");
            QVERIFY(out == kOld || (run > 0 && out.size() > 54 && test::U32At(out, 2) == out.size()));
            QCOMPARE(m_dir->Names(), (std::vector<std::string>{"big.bmp", "out.bmp"}));
        }
    }

    void dropRule_data() {
        QTest::addColumn<QStringList>("dropped");
        QTest::addColumn<QString>("expected");  // the field's text afterwards
        // Which names qualify is the shared logic's; here, which name is the
        // one that counts. A folder or a missing file named like a bitmap is
        // taken alike.
        QTest::newRow("first of several") << QStringList{"/pics/a.bmp", "/pics/b.txt"} << "/pics/a.bmp";
        QTest::newRow("text file first") << QStringList{"/pics/a.txt", "/pics/b.bmp"} << "before";
        QTest::newRow("not a local file") << QStringList{"http://example.invalid/a.bmp"} << "before";
        QTest::newRow("Japanese name") << QStringList{"/写真/猫.bmp"} << "/写真/猫.bmp";
        QTest::newRow("text, not files") << QStringList{} << "before";
    }
    void dropRule() {
        QFETCH(QStringList, dropped);
        QFETCH(QString, expected);
        CDropEdit field;
        field.setText("before");
        Drop(&field, dropped);
        QCOMPARE(field.text(), expected);
        QVERIFY(field.acceptDrops());
    }

    // Last: the Exit button's quit request stays with the application.
    // Exit ends the program with 16, Esc with 0; the file named on the
    // command line is in the source field.
    void exitCodes_data() {
        QTest::addColumn<bool>("exitButton");
        QTest::addColumn<int>("code");
        QTest::newRow("Esc") << false << 0;  // first: the Exit button's code stays for the process
        QTest::newRow("Exit button") << true << 16;
    }
    void exitCodes() {
        QFETCH(bool, exitButton);
        QFETCH(int, code);
        QString shown;
        QTimer::singleShot(0, [exitButton, &shown] {
            QWidget* dlg = QApplication::activeModalWidget();
            shown = dlg->findChild<CDropEdit*>("IDC_SRC_EDIT")->text();
            if (exitButton) QTest::mouseClick(dlg->findChild<QPushButton*>("IDC_EXIT"), Qt::LeftButton);
            else QTest::keyClick(dlg, Qt::Key_Escape);
        });
        pictrim::CMainApp app;
        app.m_files = {"from-the-command-line.bmp"};
        QVERIFY(!app.InitInstance());
        QCOMPARE(app.ExitCode(), code);
        QCOMPARE(shown, QString("from-the-command-line.bmp"));
    }
};

QTEST_MAIN(TestMainDlg)
#include "tst_cmaindlg.moc"
