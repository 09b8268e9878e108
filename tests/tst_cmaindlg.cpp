#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QtTest>

#include <filesystem>

#include "bmp_fixture.h"
#include "modal_answerer.h"
#include "platform/qt/qt_translations.h"
#include "platform/qt/template_font.h"
#include "ui/main_app.h"
#include "ui/main_dlg.h"

namespace fs = std::filesystem;
using pictrim::CMainDlg;
using pictrim::test::Bytes;
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

}  // namespace

class TestMainDlg : public QObject {
    Q_OBJECT

    std::unique_ptr<pictrim::test::TempDir> m_dir;
    FakeChooser m_chooser;
    std::unique_ptr<CMainDlg> m_dlg;
    bool m_japanese = false;  // Qt's own Japanese catalogue installed

    template <typename T = QPushButton>
    T* Get(const char* name) { return m_dlg->findChild<T*>(name); }
    QLineEdit* Src() { return Get<QLineEdit>("IDC_SRC_EDIT"); }
    QLineEdit* Dst() { return Get<QLineEdit>("IDC_DST_EDIT"); }
    QString Path(const std::string& name) { return QString::fromStdString(*m_dir / name); }
    void Type(QLineEdit* field, const QString& text) {
        field->clear();
        QTest::keyClicks(field, text);
    }
    pictrim::test::Picture WriteSource(const std::string& name, std::uint32_t w, std::uint32_t h) {
        const auto picture = pictrim::test::RandomPicture(w, h, w);
        pictrim::test::WriteFileBytes(*m_dir / name, pictrim::test::EncodeBmp(picture));
        return picture;
    }
    void Start(const std::string& src, const std::string& dst, const QString& ratio) {
        Type(Src(), Path(src));
        Type(Dst(), Path(dst));
        Get<QComboBox>("IDC_RATIO")->setCurrentText(ratio);
        QTest::mouseClick(Get("IDC_EXECUTE"), Qt::LeftButton);
    }

private slots:
    void initTestCase() {
        pictrim::platform::MapTemplateFonts();
        m_japanese = QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_ja.qm");
        QCOMPARE(pictrim::platform::InstallQtJapanese(), m_japanese);
    }
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
        QVERIFY(Src()->text().isEmpty() && Dst()->text().isEmpty());
        QVERIFY(!Get("IDC_EXECUTE")->isEnabled() && Get("IDC_EXECUTE")->isDefault());
        auto* ratio = Get<QComboBox>("IDC_RATIO");
        QCOMPARE(ratio->currentText(), QString("50%"));
        const QList<int> percents{5, 10, 20, 25, 33, 50, 200};
        QCOMPARE(ratio->count(), 7);
        for (int i = 0; i < 7; ++i) QCOMPARE(ratio->itemText(i), QString("%1%").arg(percents[i]));
        for (int i = 0; i < 7; ++i) QCOMPARE(ratio->itemData(i).toInt(), percents[i]);
        QStringList order;
        QWidget* w = Src();
        do {
            if (w->focusPolicy() & Qt::TabFocus) order << w->objectName();
            w = w->nextInFocusChain();
        } while (w != Src() && order.size() < 20);
        QCOMPARE(order, QStringList({"IDC_SRC_EDIT", "IDC_SRC_BROWSE", "IDC_DST_EDIT", "IDC_DST_BROWSE", "IDC_EXECUTE",
                                     "IDC_EXIT", "IDC_RATIO"}));
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
        QCOMPARE(Get("IDC_EXECUTE")->isEnabled(), enabled);
        Src()->selectAll();
        QTest::keyClick(Src(), Qt::Key_Delete);  // clearing a field disables at once
        QVERIFY(!Get("IDC_EXECUTE")->isEnabled());
    }

    void sourceFromTheCommandLine_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("existing file") << "a.bmp" << true;
        QTest::newRow("missing file") << "missing.bmp" << false;
        QTest::newRow("the destination itself") << "new.bmp" << false;
    }
    void sourceFromTheCommandLine() {
        QFETCH(QString, file);
        QFETCH(bool, enabled);
        WriteSource("a.bmp", 4, 4);
        WriteSource("new.bmp", 4, 4);
        Type(Dst(), Path("new.bmp"));
        m_dlg->OpenSourceFile(Path(file.toStdString()));
        QCOMPARE(Src()->text(), Path(file.toStdString()));
        QCOMPARE(Get("IDC_EXECUTE")->isEnabled(), enabled);
    }

    void browsing() {
        WriteSource("a.bmp", 4, 4);
        m_chooser.answer = Path("a.bmp");
        QTest::mouseClick(Get("IDC_SRC_BROWSE"), Qt::LeftButton);
        QCOMPARE(m_chooser.proposals.last(), QString());  // from the source field's own (empty) text
        QCOMPARE(Src()->text(), Path("a.bmp"));
        Type(Dst(), Path("keep.bmp"));
        m_chooser.answer.reset();
        QTest::mouseClick(Get("IDC_DST_BROWSE"), Qt::LeftButton);
        QCOMPARE(m_chooser.proposals.last(), Path("a.bmp"));  // the source's path is proposed
        QCOMPARE(Dst()->text(), Path("keep.bmp"));            // cancel changes nothing
        m_chooser.answer = m_chooser.proposals.last();
        QTest::mouseClick(Get("IDC_DST_BROWSE"), Qt::LeftButton);
        QCOMPARE(Dst()->text(), Path("a.bmp"));  // the proposal confirmed: the source itself
        QVERIFY(!Get("IDC_EXECUTE")->isEnabled());
    }

    void jobParamsFollowTheSelection() {
        Type(Src(), Path("a.bmp"));
        Type(Dst(), Path("b.bmp"));
        const pictrim::JobParams start = m_dlg->GatherJobParams();
        QCOMPARE(std::pair(start.percent, start.ratioIndex), std::pair(50, 5));
        QCOMPARE(QString::fromStdString(start.srcPath), Path("a.bmp"));
        QCOMPARE(QString::fromStdString(start.dstPath), Path("b.bmp"));
        Get<QComboBox>("IDC_RATIO")->setCurrentText("200%");
        const pictrim::JobParams enlarge = m_dlg->GatherJobParams();
        QCOMPARE(std::pair(enlarge.percent, enlarge.ratioIndex), std::pair(200, 6));
    }

    void conversionAndQuestionsFromTheDialog() {
        const auto picture = WriteSource("a.bmp", 40, 30);
        ModalAnswerer answerer([](const ModalAnswerer::Seen& s) {
            return s.buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok;
        });
        Start("a.bmp", "out.bmp", "25%");
        QTRY_COMPARE(answerer.seen.size(), std::size_t{1});
        QCOMPARE(answerer.seen[0].text, QString("完了しました。"));
        QCOMPARE(answerer.seen[0].title, QString("Pictrim"));
        QCOMPARE(answerer.seen[0].icon, QMessageBox::Warning);
        QTRY_VERIFY(!m_dlg->HasRunningJob() && Get("IDC_EXECUTE")->isEnabled());
        const Bytes expected = pictrim::test::EncodeBmp(pictrim::test::ReferenceReduce(picture, 4), {.padByte = 0});
        QVERIFY(pictrim::test::ReadFileBytes(*m_dir / "out.bmp") == expected);
        // Again onto the new file: asked first, and "No" changes nothing.
        QTest::mouseClick(Get("IDC_EXECUTE"), Qt::LeftButton);
        QTRY_COMPARE(answerer.seen.size(), std::size_t{2});
        QCOMPARE(answerer.seen[1].text, Path("out.bmp") + " は既に存在します。上書きしますか？");
        QCOMPARE(answerer.seen[1].buttons, QMessageBox::Yes | QMessageBox::No);
        if (m_japanese) QCOMPARE(answerer.seen[1].buttonTexts, QStringList({"いいえ(&N)", "はい(&Y)"}));
        QTRY_VERIFY(!m_dlg->HasRunningJob());
        QTest::qWait(50);
        QCOMPARE(answerer.seen.size(), std::size_t{2});
        QVERIFY(pictrim::test::ReadFileBytes(*m_dir / "out.bmp") == expected);
    }

    void busyCursorWhileAJobRuns_data() {
        QTest::addColumn<QString>("src");
        QTest::addColumn<QString>("dst");
        QTest::addColumn<QString>("notice");
        QTest::newRow("completed") << "a.bmp" << "out.bmp" << "完了しました。";
        QTest::newRow("refused: not a BMP") << "text.bmp" << "out.bmp" << "Bitmapファイル以外には対応していません。";
        QTest::newRow("failed: no such folder") << "a.bmp" << "missing/out.bmp" << " - ファイルが開けません。";
    }
    void busyCursorWhileAJobRuns() {
        QFETCH(QString, src);
        QFETCH(QString, dst);
        QFETCH(QString, notice);
        WriteSource("a.bmp", 8, 8);
        pictrim::test::WriteFileBytes(*m_dir / "text.bmp", {'t', 'e', 'x', 't'});
        std::pair<Qt::CursorShape, Qt::CursorShape> dialogAndNotice;
        ModalAnswerer answerer([&](const ModalAnswerer::Seen&) {
            dialogAndNotice = {m_dlg->cursor().shape(), QApplication::activeModalWidget()->cursor().shape()};
            return QMessageBox::Ok;
        });
        Start(src.toStdString(), dst.toStdString(), "50%");
        QTRY_COMPARE(answerer.seen.size(), std::size_t{1});
        QVERIFY2(answerer.seen[0].text.endsWith(notice), qPrintable(answerer.seen[0].text));
        QCOMPARE(dialogAndNotice, std::pair(Qt::BusyCursor, Qt::ArrowCursor));
        QTRY_COMPARE(m_dlg->cursor().shape(), Qt::ArrowCursor);
    }

    void closingWhileTheQuestionIsUp() {
        WriteSource("a.bmp", 8, 8);
        pictrim::test::WriteFileBytes(*m_dir / "out.bmp", {'o', 'l', 'd'});
        m_dlg->show();
        ModalAnswerer answerer([this](const ModalAnswerer::Seen&) {
            m_dlg->close();
            return QMessageBox::NoButton;
        });
        Start("a.bmp", "out.bmp", "50%");
        QTRY_VERIFY(!m_dlg->isVisible());
        QVERIFY(!m_dlg->HasRunningJob());
        QCOMPARE(pictrim::test::ReadFileBytes(*m_dir / "out.bmp"), (Bytes{'o', 'l', 'd'}));
        QCOMPARE(m_dir->Names(), (std::vector<std::string>{"a.bmp", "out.bmp"}));
    }

    void closingAtRandomMomentsOfLongConversions() {
        WriteSource("big.bmp", 2000, 1500);
        QRandomGenerator rng(20261206);
        ModalAnswerer answerer;  // Yes to the question, OK to the done notice
        for (int run = 0; run < 16; ++run) {
            pictrim::test::WriteFileBytes(*m_dir / "out.bmp", {'o', 'l', 'd'});
            m_dlg = std::make_unique<CMainDlg>(nullptr, &m_chooser);
            m_dlg->show();
            Start("big.bmp", "out.bmp", QString("%1%").arg(QList<int>{5, 50, 200}[rng.bounded(3)]));
            QTest::qWait(static_cast<int>(rng.bounded(150)));
            if (run % 2 == 0) m_dlg->close(); else QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
            QVERIFY(!m_dlg->isVisible() && !m_dlg->HasRunningJob());
            // As it was, or complete (the size its header states) where the job was first.
            const Bytes out = pictrim::test::ReadFileBytes(*m_dir / "out.bmp");
            QVERIFY2(out == Bytes({'o', 'l', 'd'}) || (out.size() > 54 && pictrim::test::U32At(out, 2) == out.size()),
                     qPrintable(QString("run %1: %2 bytes").arg(run).arg(out.size())));
            QCOMPARE(m_dir->Names(), (std::vector<std::string>{"big.bmp", "out.bmp"}));
        }
    }

    void exitCodes_data() {
        QTest::addColumn<bool>("exitButton");
        QTest::addColumn<int>("code");
        QTest::newRow("Esc") << false << 0;  // first: the Exit button's code stays for the process
        QTest::newRow("Exit button") << true << 16;
    }
    void exitCodes() {
        QFETCH(bool, exitButton);
        QFETCH(int, code);
        QTimer::singleShot(0, [this, exitButton] {
            QWidget* dlg = QApplication::activeModalWidget();
            QCOMPARE(dlg->findChild<QLineEdit*>("IDC_SRC_EDIT")->text(), Path("from-the-command-line.bmp"));
            if (exitButton) QTest::mouseClick(dlg->findChild<QPushButton*>("IDC_EXIT"), Qt::LeftButton);
            else QTest::keyClick(dlg, Qt::Key_Escape);
        });
        pictrim::CMainApp app;
        app.m_strSourceFile = Path("from-the-command-line.bmp");
        QVERIFY(!app.InitInstance());
        QCOMPARE(app.ExitCode(), code);
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
        if (QFontDatabase::hasFamily("IPAPGothic")) QCOMPARE(QFontInfo(m_dlg->font()).family(), QString("IPAPGothic"));
        QCOMPARE(QFontInfo(m_dlg->font()).pointSize(), 9);
        QVERIFY(!m_dlg->windowIcon().isNull());
    }
};

QTEST_MAIN(TestMainDlg)
#include "tst_cmaindlg.moc"
