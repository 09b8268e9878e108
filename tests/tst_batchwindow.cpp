// The batch window, driven as a user would: files given and dropped,
// 実行, the overwrite question, 中止 and the summary.
#include <QAbstractItemModel>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

#include <filesystem>

#include "bmp_fixture.h"
#include "ui/qt/batch_dlg.h"
#include "ui/qt/main_app.h"

namespace fs = std::filesystem;
namespace test = pictrim::test;
using pictrim::CBatchDlg;

namespace {

// Presses a button, by its text, on every message box that comes up, and
// records the boxes' texts.
class BoxAnswerer {
public:
    explicit BoxAnswerer(QString button) {
        QObject::connect(&m_timer, &QTimer::timeout, [this, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            texts.append(box->text());
            for (QAbstractButton* candidate : box->buttons()) {
                if (candidate->text() == button || box->buttons().size() == 1) return candidate->click();
            }
        });
        m_timer.start(5);
    }
    QStringList texts;

private:
    QTimer m_timer;
};

QString Q(const std::string& path) { return QString::fromStdString(path); }

// Waits, without a deadline, until the summary has been shown.
void WaitForSummary(const BoxAnswerer& boxes) {
    while (boxes.texts.isEmpty() || !boxes.texts.back().contains(QStringLiteral(" 件"))) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
}

}  // namespace

class TestBatchWindow : public QObject {
    Q_OBJECT

    test::TempDir m_dir;

    std::string Bmp(const std::string& name, std::uint32_t size = 40) {
        fs::create_directories(fs::path(m_dir / name).parent_path());
        test::WriteFileBytes(m_dir / name, test::EncodeBmp(test::RandomPicture(size, size, 3)));
        return m_dir / name;
    }

private slots:
    void everyControlHasAnAccessibleName() {
        CBatchDlg dlg;
        for (QWidget* control : dlg.findChildren<QWidget*>()) {
            if (!control->objectName().startsWith(QStringLiteral("IDC_"))) continue;
            QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
        }
        QCOMPARE(dlg.findChild<QComboBox*>("IDC_BATCH_RATIO")->currentText(), QStringLiteral("50%"));
        QVERIFY(!dlg.findChild<QPushButton*>("IDC_BATCH_EXECUTE")->isEnabled());
    }

    // Two files and a folder, as `pictrim a.bmp b.bmp photos/` gives them;
    // one file replaced after the question, all with すべてはい.
    void convertsFilesAndAFolderAfterTheQuestion() {
        const std::string a = Bmp("cmd/a.bmp"), b = Bmp("cmd/b.bmp");
        Bmp("cmd/photos/c.bmp");
        Bmp("cmd/photos/D.BMP");
        test::WriteFileBytes(m_dir / "cmd/a_50.bmp", test::kOld);
        test::WriteFileBytes(m_dir / "cmd/b_50.bmp", test::kOld);
        CBatchDlg dlg;
        dlg.AddPaths({Q(a), Q(b), Q(m_dir / "cmd/photos")});
        dlg.show();
        QCOMPARE(dlg.findChild<QTreeView*>("IDC_BATCH_LIST")->model()->rowCount(), 4);
        BoxAnswerer boxes(QStringLiteral("すべてはい"));
        auto* execute = dlg.findChild<QPushButton*>("IDC_BATCH_EXECUTE");
        QVERIFY(execute->isEnabled());
        QTest::mouseClick(execute, Qt::LeftButton);
        WaitForSummary(boxes);

        QCOMPARE(boxes.texts.size(), 2);  // one question answered for both, then the summary
        QVERIFY(boxes.texts.front().contains(QStringLiteral("上書きしますか")));
        QCOMPARE(boxes.texts.back(), QStringLiteral("完了しました。\n変換: 4 件\nスキップ: 0 件\n変換不可: 0 件\n失敗: 0 件"));
        for (const char* name : {"cmd/a_50.bmp", "cmd/b_50.bmp", "cmd/photos/c_50.bmp", "cmd/photos/D_50.BMP"}) {
            QCOMPARE(test::ReadFileBytes(m_dir / name).size(), std::size_t{54 + 20 * 60});
        }
        QCOMPARE(dlg.findChild<QLabel*>("IDC_BATCH_COUNT")->text(), QStringLiteral("4 / 4 ファイル"));
    }

    void dropAddsFilesAndFolders() {
        const std::string e = Bmp("drop/e.bmp");
        Bmp("drop/more/f.bmp");
        Bmp("drop/more/deeper/g.bmp");
        CBatchDlg dlg;
        dlg.findChild<QCheckBox*>("IDC_BATCH_RECURSIVE")->setChecked(true);
        dlg.show();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(Q(e)), QUrl::fromLocalFile(Q(m_dir / "drop/more"))});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&dlg, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&dlg, &drop);
        QCOMPARE(dlg.Logic().RowCount(), std::size_t{3});
        QCOMPARE(QString::fromStdString(dlg.Logic().Text(2, pictrim::BatchLogic::Column::Name)), QStringLiteral("g.bmp"));
    }

    // 中止 right after 実行: whenever it lands, every destination is the old
    // file or the complete new one, and nothing else is left in the folder.
    void stopLeavesEveryDestinationOldOrComplete() {
        QStringList sources;
        for (int i = 0; i < 30; ++i) sources.append(Q(Bmp("stop/s" + std::to_string(i) + ".bmp", 400)));
        const test::Bytes expected = test::ExpectedOutput(test::RandomPicture(400, 400, 3), 5);
        fs::create_directories(m_dir.path() / "stop-out");
        for (int i = 0; i < 30; i += 2) test::WriteFileBytes(m_dir / ("stop-out/s" + std::to_string(i) + ".bmp"), test::kOld);
        CBatchDlg dlg;
        dlg.SetTargetFolder(Q(m_dir / "stop-out"));
        dlg.findChild<QComboBox*>("IDC_BATCH_OVERWRITE")->setCurrentIndex(1);  // replace
        dlg.AddPaths(sources);
        dlg.show();
        BoxAnswerer boxes(QStringLiteral("OK"));
        QTest::mouseClick(dlg.findChild<QPushButton*>("IDC_BATCH_EXECUTE"), Qt::LeftButton);
        QTest::mouseClick(dlg.findChild<QPushButton*>("IDC_BATCH_STOP"), Qt::LeftButton);
        WaitForSummary(boxes);

        QVERIFY(boxes.texts.back().startsWith(QStringLiteral("中止しました。")) ||
                boxes.texts.back().startsWith(QStringLiteral("完了しました。")));
        int complete = 0;
        for (const auto& entry : fs::directory_iterator(m_dir.path() / "stop-out")) {
            const test::Bytes bytes = test::ReadFileBytes(entry.path());
            QVERIFY2(bytes == test::kOld || bytes == expected, qPrintable(QString::fromStdString(entry.path().string())));
            complete += bytes == expected;
        }
        QCOMPARE(static_cast<std::size_t>(complete), dlg.Logic().Counts().converted);
    }

    // `pictrim --execute -t FOLDER a.bmp b.bmp`: the window converts and
    // closes itself, its exit status telling how it went.
    void commandLineOpensTheBatchWindowAndExecutes() {
        pictrim::CMainApp app;
        app.m_files = {Q(Bmp("app/a.bmp")), Q(Bmp("app/b.bmp"))};
        app.m_targetFolder = Q(m_dir / "app/out");
        app.m_ratioIndex = 6;
        app.m_execute = true;
        QVERIFY(app.OpensBatchWindow());
        QVERIFY(!app.InitInstance());
        QCOMPARE(app.ExitCode(), 0);
        QCOMPARE(test::ReadFileBytes(m_dir / "app/out/b.bmp").size(), std::size_t{54 + 80 * 240});
        app.m_files = {QStringLiteral("one.bmp")};
        app.m_targetFolder.clear();
        app.m_ratioIndex = -1;
        app.m_execute = false;
        QVERIFY(!app.OpensBatchWindow());
    }
};

QTEST_MAIN(TestBatchWindow)
#include "tst_batchwindow.moc"
