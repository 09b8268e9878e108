// The dialog and its drop fields, driven as a user would.
#include <QComboBox>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRandomGenerator>
#include <QtTest>

#include <filesystem>

#include "bmp_fixture.h"
#include "platform/qt/template_font.h"
#include "platform/zeroed_block.h"
#include "ui/drop_edit.h"
#include "ui/main_app.h"
#include "ui/main_dlg.h"

namespace fs = std::filesystem;
namespace test = pictrim::test;
using pictrim::CDropEdit;
using pictrim::CMainDlg;
using test::Bytes;

namespace {

const Bytes kOld{'o', 'l', 'd'};

// Watches for modal message boxes, records them and presses the button the
// policy names (by default Yes, else OK; NoButton leaves the box up).
class ModalAnswerer {
public:
    struct Seen {
        QString title, text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
    };
    using Policy = std::function<QMessageBox::StandardButton(const Seen&)>;

    explicit ModalAnswerer(Policy policy = [](const Seen& s) {
        return s.buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    }) {
        QObject::connect(&m_timer, &QTimer::timeout, [this, policy] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || box == m_current.data()) return;  // a later box may reuse the address
            m_current = box;
            seen.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
            if (QAbstractButton* button = box->button(policy(seen.back()))) button->click();
        });
        m_timer.start(5);
    }
    std::vector<Seen> seen;

private:
    QTimer m_timer;
    QPointer<QMessageBox> m_current;
};

// Stands in for the file dialog: records what was proposed and answers
// `answer` (nothing: cancelled).
class FakeChooser : public pictrim::platform::FileChooser {
public:
    std::optional<QString> ChooseBitmap(QWidget*, const QString& proposed) override {
        proposals.append(proposed);
        return answer;
    }
    QStringList proposals;
    std::optional<QString> answer;
};

// The drag-enter and drop that the desktop sends; true when the drop is taken.
bool Drop(QWidget* target, const QStringList& paths, bool asText = false) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& p : paths) urls << (p.startsWith("http") ? QUrl(p) : QUrl::fromLocalFile(p));
    if (asText) {
        data.setText(paths.join('\n'));
    } else {
        data.setUrls(urls);
    }
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
    FakeChooser m_chooser;
    std::unique_ptr<CMainDlg> m_dlg;

    QPushButton* Button(const char* name) { return m_dlg->findChild<QPushButton*>(name); }
    CDropEdit* Src() { return m_dlg->findChild<CDropEdit*>("IDC_SRC_EDIT"); }
    CDropEdit* Dst() { return m_dlg->findChild<CDropEdit*>("IDC_DST_EDIT"); }
    QString Path(const std::string& name) { return QString::fromStdString(*m_dir / name); }
    void Type(QLineEdit* field, const QString& text) {
        field->clear();
        QTest::keyClicks(field, text);
    }
    test::Picture WriteSource(const std::string& name, std::uint32_t w, std::uint32_t h) {
        const auto picture = test::RandomPicture(w, h, w);
        test::WriteFileBytes(*m_dir / name, test::EncodeBmp(picture));
        return picture;
    }
    void Start(const std::string& src, const std::string& dst, const QString& ratio) {
        Type(Src(), Path(src));
        Type(Dst(), Path(dst));
        m_dlg->findChild<QComboBox*>("IDC_RATIO")->setCurrentText(ratio);
        QTest::mouseClick(Button("IDC_EXECUTE"), Qt::LeftButton);
    }

private slots:
    void initTestCase() { pictrim::platform::MapTemplateFonts(); }
    void init() {
        m_dir = std::make_unique<test::TempDir>();
        m_chooser = FakeChooser();
        m_dlg = std::make_unique<CMainDlg>(nullptr, &m_chooser);
    }
    void cleanup() { m_dlg.reset(); }  // stops its jobs before their folder goes

    void startState() {
        QVERIFY(!Button("IDC_EXECUTE")->isEnabled() && Button("IDC_EXECUTE")->isDefault());
        QCOMPARE(m_dlg->findChild<QComboBox*>("IDC_RATIO")->currentText(), QString("50%"));
        QTest::keyClicks(Src(), QString(600, QChar('a')));
        QCOMPARE(Src()->text().size(), 512);
    }

    void executeRule_data() {
        QTest::addColumn<QString>("src");
        QTest::addColumn<QString>("dst");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("no destination") << "a.bmp" << "" << false;
        QTest::newRow("source missing") << "missing.bmp" << "new.bmp" << false;
        QTest::newRow("same path") << "a.bmp" << "a.bmp" << false;
        QTest::newRow("other spelling") << "a.bmp" << "sub/../a.bmp" << false;
        QTest::newRow("symbolic link") << "a.bmp" << "link.bmp" << false;
        QTest::newRow("hard link") << "a.bmp" << "hard.bmp" << false;
        QTest::newRow("new destination") << "a.bmp" << "new.bmp" << true;
        QTest::newRow("other existing file") << "a.bmp" << "sub/other.bmp" << true;
    }
    void executeRule() {
        QFETCH(QString, src);
        QFETCH(QString, dst);
        QFETCH(bool, enabled);
        WriteSource("a.bmp", 4, 4);
        fs::create_directory(m_dir->path() / "sub");
        WriteSource("sub/other.bmp", 4, 4);
        fs::create_symlink(m_dir->path() / "a.bmp", m_dir->path() / "link.bmp");
        fs::create_hard_link(m_dir->path() / "a.bmp", m_dir->path() / "hard.bmp");
        Type(Src(), Path(src.toStdString()));
        Type(Dst(), dst.isEmpty() ? dst : Path(dst.toStdString()));
        QCOMPARE(Button("IDC_EXECUTE")->isEnabled(), enabled);
        Src()->selectAll();
        QTest::keyClick(Src(), Qt::Key_Delete);  // clearing a field disables at once
        QVERIFY(!Button("IDC_EXECUTE")->isEnabled());
    }

    // Both choosers start from the source's path; a cancelled one changes nothing.
    void browsing() {
        Type(Src(), Path("a.bmp"));
        Type(Dst(), Path("keep.bmp"));
        QTest::mouseClick(Button("IDC_DST_BROWSE"), Qt::LeftButton);
        QCOMPARE(Dst()->text(), Path("keep.bmp"));
        m_chooser.answer = Path("b.bmp");
        QTest::mouseClick(Button("IDC_SRC_BROWSE"), Qt::LeftButton);
        QCOMPARE(Src()->text(), Path("b.bmp"));
        QCOMPARE(m_chooser.proposals, QStringList({Path("a.bmp"), Path("a.bmp")}));
    }

    void conversionAndOverwriteQuestion() {
        const auto picture = WriteSource("a.bmp", 40, 30);
        ModalAnswerer answerer([](const ModalAnswerer::Seen& s) {
            return s.buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
        });
        Start("a.bmp", "out.bmp", "25%");
        QTRY_COMPARE(answerer.seen.size(), std::size_t{1});
        QCOMPARE(answerer.seen[0].text, QString("完了しました。"));
        QCOMPARE(answerer.seen[0].title, QString("Pictrim"));
        QCOMPARE(answerer.seen[0].icon, QMessageBox::Warning);
        QTRY_VERIFY(!m_dlg->HasRunningJob() && Button("IDC_EXECUTE")->isEnabled());
        const Bytes expected = test::ExpectedOutput(picture, 3);
        QVERIFY(test::ReadFileBytes(*m_dir / "out.bmp") == expected);
        // Again onto the new file: asked first, and "No" ends the job with no further notice.
        QTest::mouseClick(Button("IDC_EXECUTE"), Qt::LeftButton);
        QTRY_VERIFY(!m_dlg->HasRunningJob());
        QCOMPARE(answerer.seen.size(), std::size_t{2});
        QCOMPARE(answerer.seen[1].text, Path("out.bmp") + " は既に存在します。上書きしますか？");
        QCOMPARE(answerer.seen[1].buttons, QMessageBox::Yes | QMessageBox::No);
        QVERIFY(test::ReadFileBytes(*m_dir / "out.bmp") == expected);
    }

    void closingWhileTheQuestionIsUp() {
        WriteSource("a.bmp", 8, 8);
        test::WriteFileBytes(*m_dir / "out.bmp", kOld);
        m_dlg->show();
        ModalAnswerer answerer([this](const ModalAnswerer::Seen&) {
            m_dlg->close();
            return QMessageBox::NoButton;
        });
        Start("a.bmp", "out.bmp", "50%");
        QTRY_VERIFY(!m_dlg->isVisible());
        QVERIFY(!m_dlg->HasRunningJob());
        QCOMPARE(test::ReadFileBytes(*m_dir / "out.bmp"), kOld);
        QCOMPARE(m_dir->Names(), (std::vector<std::string>{"a.bmp", "out.bmp"}));
    }

    void closingAtRandomMomentsOfLongConversions() {
        WriteSource("big.bmp", 2000, 1500);
        QRandomGenerator rng(20261206);
        ModalAnswerer answerer;  // Yes to the question, OK to the done notice
        for (int run = 0; run < 16; ++run) {
            test::WriteFileBytes(*m_dir / "out.bmp", kOld);
            m_dlg = std::make_unique<CMainDlg>(nullptr, &m_chooser);
            m_dlg->show();
            Start("big.bmp", "out.bmp", QStringList{"5%", "50%", "200%"}[rng.bounded(3)]);
            QTest::qWait(static_cast<int>(rng.bounded(150)));
            if (run % 2 == 0) {
                m_dlg->close();
            } else {
                QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
            }
            QVERIFY(!m_dlg->isVisible() && !m_dlg->HasRunningJob());
            // As it was, or complete (the size its header states) where the job was first.
            const Bytes out = test::ReadFileBytes(*m_dir / "out.bmp");
            QVERIFY2(out == kOld || (out.size() > 54 && test::U32At(out, 2) == out.size()),
                     qPrintable(QString("run %1: %2 bytes").arg(run).arg(out.size())));
            QCOMPARE(m_dir->Names(), (std::vector<std::string>{"big.bmp", "out.bmp"}));
        }
    }

    void exitCodes() {
        pictrim::CMainApp app;
        // Esc first: the Exit button's code stays for the process.
        QTimer::singleShot(0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
        QVERIFY(!app.InitInstance());
        QCOMPARE(app.ExitCode(), 0);
        QTimer::singleShot(0, [] {
            QTest::mouseClick(QApplication::activeModalWidget()->findChild<QPushButton*>("IDC_EXIT"), Qt::LeftButton);
        });
        QVERIFY(!app.InitInstance());
        QCOMPARE(app.ExitCode(), CMainDlg::kExitCode);
    }

    void rendersTheTemplate() {
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
        QVERIFY(m_dlg->grab().save(QStringLiteral(PICTRIM_SNAPSHOT_DIR "/main_dlg.png")));
        for (QWidget* w : m_dlg->findChildren<QWidget*>()) {  // nothing clipped
            if (w->isVisible())
                QVERIFY2(m_dlg->rect().contains(QRect(w->mapTo(m_dlg.get(), QPoint(0, 0)), w->size())),
                         qPrintable(w->objectName()));
        }
        QVERIFY(!m_dlg->windowIcon().isNull());
    }

    void dropRule_data() {
        QTest::addColumn<QStringList>("dropped");
        QTest::addColumn<QString>("expected");  // the field's text afterwards
        // Names only: a folder or a missing file named like a bitmap is taken alike.
        QTest::newRow("upper-case extension") << QStringList{"/pics/Photo.BMP"} << "/pics/Photo.BMP";
        QTest::newRow("first of several") << QStringList{"/pics/a.bmp", "/pics/b.txt"} << "/pics/a.bmp";
        QTest::newRow("text file first") << QStringList{"/pics/a.txt", "/pics/b.bmp"} << "before";
        QTest::newRow("trailing blank") << QStringList{"/pics/a.bmp "} << "before";
        QTest::newRow("further extension") << QStringList{"/pics/a.bmp.txt"} << "before";
        QTest::newRow("not a local file") << QStringList{"http://example.invalid/a.bmp"} << "before";
        QTest::newRow("Japanese name") << QStringList{"/写真/猫.bmp"} << "/写真/猫.bmp";
    }
    void dropRule() {
        QFETCH(QStringList, dropped);
        QFETCH(QString, expected);
        CDropEdit field;
        field.setText("before");
        Drop(&field, dropped);
        QCOMPARE(field.text(), expected);
        QVERIFY(field.acceptDrops());
        QVERIFY(!Drop(&field, dropped, true));  // dragged text is never inserted
        QCOMPARE(field.text(), expected);
    }

    void dropsOnTheDialog() {
        m_dlg->show();
        WriteSource("a.BMP", 4, 4);
        Dst()->setText(Path("out.bmp"));
        QVERIFY(Drop(Src(), {Path("a.BMP")}));
        QVERIFY(Button("IDC_EXECUTE")->isEnabled());  // the rule is applied to dropped paths too
        // Short of memory: told once, and that field takes no more drops.
        ModalAnswerer answerer;
        pictrim::platform::SetAllocationCeilingForTesting(1);
        Drop(Src(), {"/pics/b.bmp"});
        pictrim::platform::SetAllocationCeilingForTesting(0);
        QCOMPARE(answerer.seen.size(), std::size_t{1});
        QCOMPARE(answerer.seen[0].title, QString("エラー"));
        QCOMPARE(answerer.seen[0].text, QString("メモリ不足です。\n0 < 12"));
        QCOMPARE(Src()->text(), Path("a.BMP"));
        QVERIFY(!Drop(Src(), {"/pics/b.bmp"}));
        QVERIFY(Drop(Dst(), {"/pics/b.bmp"}));
        QCOMPARE(Dst()->text(), QString("/pics/b.bmp"));
    }
};

QTEST_MAIN(TestMainDlg)
#include "tst_cmaindlg.moc"
