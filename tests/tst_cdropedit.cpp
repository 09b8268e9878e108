#include <QComboBox>
#include <QMimeData>
#include <QPushButton>
#include <QtTest>

#include <filesystem>

#include "bmp_fixture.h"
#include "modal_answerer.h"
#include "platform/zeroed_block.h"
#include "ui/drop_edit.h"
#include "ui/main_dlg.h"

using pictrim::CDropEdit;

namespace {

// Sends the drag-enter and drop that the desktop shell's drop would; returns
// whether the field took the drop.
bool Drop(QWidget* target, QMimeData* data) {
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

QMimeData* Files(const QStringList& paths) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& p : paths) urls << (p.startsWith("http") ? QUrl(p) : QUrl::fromLocalFile(p));
    data->setUrls(urls);
    return data;
}

}  // namespace

class TestDropEdit : public QObject {
    Q_OBJECT

private slots:
    void drops_data() {
        QTest::addColumn<QStringList>("dropped");
        QTest::addColumn<QString>("expected");  // the field's text afterwards
        QTest::newRow("upper-case extension") << QStringList{"/pics/Photo.BMP"} << "/pics/Photo.BMP";
        QTest::newRow("mixed case") << QStringList{"/pics/a.bMp"} << "/pics/a.bMp";
        QTest::newRow("first of several") << QStringList{"/pics/a.bmp", "/pics/b.txt", "/pics/c.bmp"} << "/pics/a.bmp";
        QTest::newRow("text file first") << QStringList{"/pics/a.txt", "/pics/b.bmp", "/pics/c.bmp"} << "before";
        QTest::newRow("trailing blank") << QStringList{"/pics/a.bmp "} << "before";
        QTest::newRow("further extension") << QStringList{"/pics/a.bmp.txt"} << "before";
        QTest::newRow("no dot") << QStringList{"/pics/abmp"} << "before";
        QTest::newRow("not a local file") << QStringList{"http://example.invalid/a.bmp"} << "before";
        QTest::newRow("Japanese name") << QStringList{"/写真/猫.bmp"} << "/写真/猫.bmp";
    }
    void drops() {
        QFETCH(QStringList, dropped);
        QFETCH(QString, expected);
        CDropEdit field;
        field.setText("before");
        std::unique_ptr<QMimeData> data(Files(dropped));
        Drop(&field, data.get());
        QCOMPARE(field.text(), expected);
        QVERIFY(field.acceptDrops());
    }

    void folderNamedLikeABitmapIsTaken() {
        pictrim::test::TempDir dir;
        std::filesystem::create_directory(dir.path() / "folder.bmp");
        CDropEdit field;
        std::unique_ptr<QMimeData> data(Files({QString::fromStdString(dir / "folder.bmp")}));
        QVERIFY(Drop(&field, data.get()));
        QCOMPARE(field.text(), QString::fromStdString(dir / "folder.bmp"));
    }

    void textDragsAreNotInserted() {
        CDropEdit field;
        field.setText("before");
        QMimeData data;
        data.setText("/pics/a.bmp");
        QVERIFY(!Drop(&field, &data));
        QCOMPARE(field.text(), QString("before"));
    }

    void droppedSourceReevaluatesExecute() {
        pictrim::test::TempDir dir;
        pictrim::test::WriteFileBytes(dir / "a.BMP", pictrim::test::EncodeBmp(pictrim::test::RandomPicture(4, 4, 1)));
        pictrim::CMainDlg dlg;
        auto* src = dlg.findChild<CDropEdit*>("IDC_SRC_EDIT");
        auto* dst = dlg.findChild<CDropEdit*>("IDC_DST_EDIT");
        auto* execute = dlg.findChild<QPushButton*>("IDC_EXECUTE");
        dst->setText(QString::fromStdString(dir / "out.bmp"));
        QVERIFY(!execute->isEnabled());
        std::unique_ptr<QMimeData> data(Files({QString::fromStdString(dir / "a.BMP")}));
        QVERIFY(Drop(src, data.get()));
        QVERIFY(execute->isEnabled());
        // Only the two fields take drops.
        for (QWidget* w : dlg.findChildren<QWidget*>()) {
            if (w != src && w != dst) QVERIFY2(!w->acceptDrops(), qPrintable(w->objectName()));
        }
        QVERIFY(!dlg.acceptDrops());
    }

    void memoryShortageIsToldAndDropsStayOff() {
        pictrim::CMainDlg dlg;
        auto* src = dlg.findChild<CDropEdit*>("IDC_SRC_EDIT");
        auto* dst = dlg.findChild<CDropEdit*>("IDC_DST_EDIT");
        src->setText("typed");
        pictrim::test::ModalAnswerer answerer;
        pictrim::platform::SetAllocationCeilingForTesting(1);
        std::unique_ptr<QMimeData> data(Files({"/pics/a.bmp"}));
        Drop(src, data.get());
        pictrim::platform::SetAllocationCeilingForTesting(0);
        QCOMPARE(answerer.seen.size(), std::size_t{1});
        QCOMPARE(answerer.seen[0].title, QString("エラー"));
        QCOMPARE(answerer.seen[0].text, QString("メモリ不足です。\n0 < 12"));
        QCOMPARE(answerer.seen[0].icon, QMessageBox::NoIcon);
        QCOMPARE(answerer.seen[0].buttons, QMessageBox::Ok);
        QCOMPARE(src->text(), QString("typed"));
        QVERIFY(!src->acceptDrops());
        QVERIFY(!Drop(src, data.get()));  // refused from now on
        QVERIFY(dst->acceptDrops());
        QVERIFY(Drop(dst, data.get()));
        QCOMPARE(dst->text(), QString("/pics/a.bmp"));
    }
};

QTEST_MAIN(TestDropEdit)
#include "tst_cdropedit.moc"
