#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <sys/stat.h>

#include <filesystem>

#include "bmp_fixture.h"
#include "modal_answerer.h"
#include "platform/qt/quit.h"
#include "platform/qt/template_font.h"
#include "reference_resize.h"
#include "ui/drop_edit.h"
#include "ui/main_app.h"
#include "ui/main_dlg.h"

namespace fs = std::filesystem;
using pictrim::CMainDlg;
using pictrim::test::ModalAnswerer;

namespace {

// Stands in for the file dialog: records what was proposed, answers from a
// script (nothing: cancelled).
class FakeChooser : public pictrim::platform::FileChooser {
public:
    std::optional<QString> ChooseBitmap(QWidget*, const QString& proposed) override {
        proposals.append(proposed);
        return answer;
    }
    QStringList proposals;
    std::optional<QString> answer;
};

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

class TestMainDlg : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<pictrim::test::TempDir> m_dir;
    FakeChooser m_chooser;
    std::unique_ptr<CMainDlg> m_dlg;

    QLineEdit* Src() { return m_dlg->findChild<QLineEdit*>("IDC_SRC_EDIT"); }
    QLineEdit* Dst() { return m_dlg->findChild<QLineEdit*>("IDC_DST_EDIT"); }
    QPushButton* Button(const char* name) { return m_dlg->findChild<QPushButton*>(name); }
    QComboBox* Ratio() { return m_dlg->findChild<QComboBox*>("IDC_RATIO"); }
    QString Path(const std::string& name) { return Q(*m_dir / name); }
    void Type(QLineEdit* field, const QString& text) {
        field->clear();
        QTest::keyClicks(field, text);
    }
    void WriteSource(const std::string& name, std::uint32_t w, std::uint32_t h) {
        pictrim::test::WriteFileBytes(*m_dir / name, pictrim::test::EncodeBmp(pictrim::test::RandomPicture(w, h, w)));
    }

private slots:
    void initTestCase() { pictrim::platform::MapTemplateFonts(); }

    void init() {
        m_dir = std::make_unique<pictrim::test::TempDir>();
        m_chooser = FakeChooser();
        m_dlg = std::make_unique<CMainDlg>(nullptr, &m_chooser);
    }
    void cleanup() {
        m_dlg.reset();
        m_dir.reset();
    }

    void startState() {
        QCOMPARE(m_dlg->windowTitle(), QString("Pictrim - v.0.17.02"));
        QVERIFY(Src()->text().isEmpty());
        QVERIFY(Dst()->text().isEmpty());
        QVERIFY(!Button("IDC_EXECUTE")->isEnabled());
        QVERIFY(Button("IDC_EXECUTE")->isDefault());
        QCOMPARE(Ratio()->currentText(), QString("50%"));
        const QStringList texts{"5%", "10%", "20%", "25%", "33%", "50%", "200%"};
        const QList<int> percents{5, 10, 20, 25, 33, 50, 200};
        QCOMPARE(Ratio()->count(), 7);
        for (int i = 0; i < 7; ++i) {
            QCOMPARE(Ratio()->itemText(i), texts[i]);
            QCOMPARE(Ratio()->itemData(i).toInt(), percents[i]);
        }
        QVERIFY(!m_dlg->windowIcon().isNull());
        QVERIFY(!m_dlg->acceptDrops());
    }

    void tabOrderFollowsTheTemplate() {
        QStringList order;
        QWidget* w = Src();
        do {
            if (w->focusPolicy() & Qt::TabFocus) order << w->objectName();
            w = w->nextInFocusChain();
        } while (w != Src() && order.size() < 20);
        QCOMPARE(order, QStringList({"IDC_SRC_EDIT", "IDC_SRC_BROWSE", "IDC_DST_EDIT", "IDC_DST_BROWSE", "IDC_EXECUTE",
                                     "IDC_EXIT", "IDC_RATIO"}));
    }

    void executeRule_data() {
        QTest::addColumn<QString>("src");
        QTest::addColumn<QString>("dst");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("no source") << "" << "new.bmp" << false;
        QTest::newRow("no destination") << "a.bmp" << "" << false;
        QTest::newRow("source missing") << "missing.bmp" << "new.bmp" << false;
        QTest::newRow("same path") << "a.bmp" << "a.bmp" << false;
        QTest::newRow("other spelling") << "a.bmp" << "sub/../a.bmp" << false;
        QTest::newRow("symbolic link") << "a.bmp" << "link.bmp" << false;
        QTest::newRow("hard link") << "a.bmp" << "hard.bmp" << false;
        QTest::newRow("new destination") << "a.bmp" << "new.bmp" << true;
        QTest::newRow("other existing file") << "a.bmp" << "other.bmp" << true;
        QTest::newRow("source is a folder") << "sub" << "new.bmp" << true;  // the job tells what is wrong
    }
    void executeRule() {
        QFETCH(QString, src);
        QFETCH(QString, dst);
        QFETCH(bool, enabled);
        WriteSource("a.bmp", 4, 4);
        WriteSource("other.bmp", 4, 4);
        fs::create_directory(m_dir->path() / "sub");
        fs::create_symlink(m_dir->path() / "a.bmp", m_dir->path() / "link.bmp");
        fs::create_hard_link(m_dir->path() / "a.bmp", m_dir->path() / "hard.bmp");
        Type(Src(), src.isEmpty() ? src : Path(src.toStdString()));
        Type(Dst(), dst.isEmpty() ? dst : Path(dst.toStdString()));
        QCOMPARE(Button("IDC_EXECUTE")->isEnabled(), enabled);
    }

    void clearingAFieldDisablesExecute() {
        WriteSource("a.bmp", 4, 4);
        Type(Src(), Path("a.bmp"));
        Type(Dst(), Path("b.bmp"));
        QVERIFY(Button("IDC_EXECUTE")->isEnabled());
        Src()->selectAll();
        QTest::keyClick(Src(), Qt::Key_Delete);
        QVERIFY(!Button("IDC_EXECUTE")->isEnabled());
    }

    void typingStopsAt512Characters() {
        QTest::keyClicks(Src(), QString(600, QChar('a')));
        QCOMPARE(Src()->text().size(), 512);
    }

    void browsing() {
        WriteSource("a.bmp", 4, 4);
        // The source's browse starts from its own (empty) text.
        m_chooser.answer = Path("a.bmp");
        QTest::mouseClick(Button("IDC_SRC_BROWSE"), Qt::LeftButton);
        QCOMPARE(m_chooser.proposals.last(), QString());
        QCOMPARE(Src()->text(), Path("a.bmp"));

        // The destination's browse proposes the source's path; cancel changes nothing.
        Type(Dst(), Path("keep.bmp"));
        m_chooser.answer.reset();
        QTest::mouseClick(Button("IDC_DST_BROWSE"), Qt::LeftButton);
        QCOMPARE(m_chooser.proposals.last(), Path("a.bmp"));
        QCOMPARE(Dst()->text(), Path("keep.bmp"));
        QVERIFY(Button("IDC_EXECUTE")->isEnabled());

        // Confirming the proposal unchanged makes the destination the source.
        m_chooser.answer = m_chooser.proposals.last();
        QTest::mouseClick(Button("IDC_DST_BROWSE"), Qt::LeftButton);
        QCOMPARE(Dst()->text(), Path("a.bmp"));
        QVERIFY(!Button("IDC_EXECUTE")->isEnabled());
    }

    void jobParamsFollowTheSelection() {
        Type(Src(), Path("a.bmp"));
        Type(Dst(), Path("b.bmp"));
        pictrim::JobParams start = m_dlg->GatherJobParams();
        QCOMPARE(start.percent, 50);
        QCOMPARE(start.ratioIndex, 5);
        QCOMPARE(Q(start.srcPath), Path("a.bmp"));
        QCOMPARE(Q(start.dstPath), Path("b.bmp"));
        QVERIFY(start.owner != nullptr && start.execButton != nullptr);
        Ratio()->setCurrentIndex(Ratio()->findText("200%"));
        const pictrim::JobParams enlarge = m_dlg->GatherJobParams();
        QCOMPARE(enlarge.percent, 200);
        QCOMPARE(enlarge.ratioIndex, 6);
    }

    void conversionFromTheDialog() {
        const auto picture = pictrim::test::RandomPicture(40, 30, 3);
        pictrim::test::WriteFileBytes(*m_dir / "a.bmp", pictrim::test::EncodeBmp(picture));
        Type(Src(), Path("a.bmp"));
        Type(Dst(), Path("out.bmp"));
        Ratio()->setCurrentIndex(Ratio()->findText("25%"));
        ModalAnswerer answerer;
        QTest::mouseClick(Button("IDC_EXECUTE"), Qt::LeftButton);
        QTRY_COMPARE(answerer.seen.size(), std::size_t{1});
        QCOMPARE(answerer.seen[0].text, QString("完了しました。"));
        QCOMPARE(answerer.seen[0].title, QString("Pictrim"));
        QCOMPARE(answerer.seen[0].icon, QMessageBox::Warning);
        QTRY_VERIFY(!m_dlg->HasRunningJob());
        QTRY_VERIFY(Button("IDC_EXECUTE")->isEnabled());
        const auto out = pictrim::test::DecodeBmp(pictrim::test::ReadFileBytes(*m_dir / "out.bmp"));
        QVERIFY(out == pictrim::test::ReferenceReduce(picture, 4));
    }

    void overwritePromptAnsweredNo() {
        WriteSource("a.bmp", 8, 8);
        pictrim::test::WriteFileBytes(*m_dir / "out.bmp", {'o', 'l', 'd'});
        Type(Src(), Path("a.bmp"));
        Type(Dst(), Path("out.bmp"));
        ModalAnswerer answerer([](const ModalAnswerer::Seen&) { return QMessageBox::No; });
        QTest::mouseClick(Button("IDC_EXECUTE"), Qt::LeftButton);
        QTRY_VERIFY(!m_dlg->HasRunningJob());
        QTRY_VERIFY(Button("IDC_EXECUTE")->isEnabled());
        QTest::qWait(50);
        QCOMPARE(answerer.seen.size(), std::size_t{1});
        QCOMPARE(answerer.seen[0].text, Path("out.bmp") + " は既に存在します。上書きしますか？");
        QCOMPARE(answerer.seen[0].buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(pictrim::test::ReadFileBytes(*m_dir / "out.bmp"), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    }

    void closingDuringThePromptCancelsTheJob() {
        WriteSource("a.bmp", 8, 8);
        pictrim::test::WriteFileBytes(*m_dir / "out.bmp", {'o', 'l', 'd'});
        Type(Src(), Path("a.bmp"));
        Type(Dst(), Path("out.bmp"));
        m_dlg->show();
        ModalAnswerer answerer([this](const ModalAnswerer::Seen&) {
            m_dlg->close();  // the close box, while the question is up
            return QMessageBox::NoButton;
        });
        QTest::mouseClick(Button("IDC_EXECUTE"), Qt::LeftButton);
        QTRY_VERIFY(!m_dlg->isVisible());
        QVERIFY(!m_dlg->HasRunningJob());
        QTest::qWait(50);
        QCOMPARE(answerer.seen.size(), std::size_t{1});
        QCOMPARE(pictrim::test::ReadFileBytes(*m_dir / "out.bmp"), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
        QCOMPARE(m_dir->Names(), (std::vector<std::string>{"a.bmp", "out.bmp"}));
    }

    void closingDuringALongConversion_data() {
        QTest::addColumn<bool>("replacing");
        QTest::addColumn<int>("delayMs");
        for (const bool replacing : {false, true})
            for (const int delay : {0, 10, 40, 120})
                QTest::addRow("%s, closed after %d ms", replacing ? "replacing" : "new file", delay) << replacing << delay;
    }
    void closingDuringALongConversion() {
        QFETCH(bool, replacing);
        QFETCH(int, delayMs);
        WriteSource("big.bmp", 3000, 2000);
        const std::vector<std::uint8_t> old{'o', 'l', 'd'};
        if (replacing) pictrim::test::WriteFileBytes(*m_dir / "out.bmp", old);
        ModalAnswerer answerer;  // Yes to the question, OK to the done notice
        m_dlg->show();
        Type(Src(), Path("big.bmp"));
        Type(Dst(), Path("out.bmp"));
        Ratio()->setCurrentIndex(Ratio()->findText("200%"));
        QTest::mouseClick(Button("IDC_EXECUTE"), Qt::LeftButton);
        QTRY_VERIFY(!Button("IDC_EXECUTE")->isEnabled() || !m_dlg->HasRunningJob());
        QTest::qWait(delayMs);
        m_dlg->close();
        QVERIFY(!m_dlg->isVisible());
        QVERIFY(!m_dlg->HasRunningJob());
        m_dlg.reset();
        // As it was, or complete where the job had finished first; never partial.
        const bool exists = fs::exists(m_dir->path() / "out.bmp");
        const auto out = exists ? pictrim::test::ReadFileBytes(*m_dir / "out.bmp") : std::vector<std::uint8_t>{};
        const bool complete = out.size() == 54 + 18000u * 4000;
        QVERIFY2(complete || (replacing ? out == old : !exists), qPrintable(QString::number(out.size())));
        QCOMPARE(m_dir->Names(), replacing || complete ? (std::vector<std::string>{"big.bmp", "out.bmp"})
                                                       : (std::vector<std::string>{"big.bmp"}));
        qDebug() << (complete ? "completed before the close" : "stopped by the close");
    }

    void closingAtRandomMomentsManyTimes() {
        WriteSource("big.bmp", 2000, 1500);
        const std::vector<std::uint8_t> old{'o', 'l', 'd'};
        QRandomGenerator rng(20261206);
        ModalAnswerer answerer;
        for (int run = 0; run < 16; ++run) {
            pictrim::test::WriteFileBytes(*m_dir / "out.bmp", old);
            CMainDlg dlg(nullptr, &m_chooser);
            dlg.show();
            dlg.findChild<QLineEdit*>("IDC_SRC_EDIT")->setText(Path("big.bmp"));
            dlg.findChild<QLineEdit*>("IDC_DST_EDIT")->setText(Path("out.bmp"));
            auto* ratio = dlg.findChild<QComboBox*>("IDC_RATIO");
            ratio->setCurrentIndex(static_cast<int>(rng.bounded(7)));
            QTest::mouseClick(dlg.findChild<QPushButton*>("IDC_EXECUTE"), Qt::LeftButton);
            QTest::qWait(static_cast<int>(rng.bounded(120)));
            if (rng.bounded(2) == 0) {
                dlg.close();
            } else {
                QTest::keyClick(&dlg, Qt::Key_Escape);
            }
            QVERIFY(!dlg.isVisible());
            QVERIFY(!dlg.HasRunningJob());
            const auto out = pictrim::test::ReadFileBytes(*m_dir / "out.bmp");
            // As it was, or a complete picture of the size its header states.
            QVERIFY2(out == old || (out.size() > 54 && pictrim::test::U32At(out, 2) == out.size()),
                     qPrintable(QString("run %1: %2 bytes").arg(run).arg(out.size())));
            QCOMPARE(m_dir->Names(), (std::vector<std::string>{"big.bmp", "out.bmp"}));
        }
    }

    void escapeEndsTheDialogWithZero() {
        QTimer::singleShot(0, [] {
            if (QWidget* dlg = QApplication::activeModalWidget()) QTest::keyClick(dlg, Qt::Key_Escape);
        });
        pictrim::CMainApp app;
        QVERIFY(!app.InitInstance());
        QCOMPARE(app.ExitCode(), 0);
    }

    void exitButtonEndsTheProgramWithSixteen() {
        QTimer::singleShot(0, [] {
            if (QWidget* dlg = QApplication::activeModalWidget())
                QTest::mouseClick(dlg->findChild<QPushButton*>("IDC_EXIT"), Qt::LeftButton);
        });
        pictrim::CMainApp app;
        QVERIFY(!app.InitInstance());
        QCOMPARE(app.ExitCode(), 16);
    }

    void rendersTheTemplate() {
        m_dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
        const QImage image = m_dlg->grab().toImage();
        QVERIFY(!image.isNull());
        image.save(QStringLiteral(PICTRIM_SNAPSHOT_DIR "/main_dlg.png"));
        // Nothing clipped: every control lies inside the dialog.
        for (QWidget* w : m_dlg->findChildren<QWidget*>()) {
            if (!w->isVisible() || w->parentWidget() == nullptr) continue;
            const QRect r(w->mapTo(m_dlg.get(), QPoint(0, 0)), w->size());
            QVERIFY2(m_dlg->rect().contains(r), qPrintable(w->objectName()));
        }
        QVERIFY(Button("IDC_EXECUTE")->width() >= Button("IDC_EXECUTE")->sizeHint().width());
        // The template's font maps to the Gothic font the set-up installs.
        if (QFontDatabase::hasFamily("IPAPGothic")) QCOMPARE(QFontInfo(m_dlg->font()).family(), QString("IPAPGothic"));
        QCOMPARE(QFontInfo(m_dlg->font()).pointSize(), 9);
    }
};

QTEST_MAIN(TestMainDlg)
#include "tst_cmaindlg.moc"
