#include <QMimeData>
#include <QPushButton>
#include <QtTest>

#include "bmp_fixture.h"
#include "modal_answerer.h"
#include "platform/zeroed_block.h"
#include "ui/drop_edit.h"
#include "ui/main_dlg.h"

using pictrim::CDropEdit;

namespace {

// The drag-enter and drop that the desktop's drop sends; true when taken.
bool Drop(QWidget* target, const QStringList& paths, bool asText = false) {
    QMimeData data;
    if (asText) {
        data.setText(paths.join('\n'));
    } else {
        QList<QUrl> urls;
        for (const QString& p : paths) urls << (p.startsWith("http") ? QUrl(p) : QUrl::fromLocalFile(p));
        data.setUrls(urls);
    }
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

}  // namespace

class TestDropEdit : public QObject {
    Q_OBJECT

private slots:
    void drops_data() {
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
    void drops() {
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

    void dropOnTheDialogReevaluatesExecute() {
        pictrim::test::TempDir dir;
        pictrim::test::WriteFileBytes(dir / "a.BMP", pictrim::test::EncodeBmp(pictrim::test::RandomPicture(4, 4, 1)));
        pictrim::CMainDlg dlg;
        auto* src = dlg.findChild<CDropEdit*>("IDC_SRC_EDIT");
        auto* dst = dlg.findChild<CDropEdit*>("IDC_DST_EDIT");
        dst->setText(QString::fromStdString(dir / "out.bmp"));
        QVERIFY(Drop(src, {QString::fromStdString(dir / "a.BMP")}));
        QVERIFY(dlg.findChild<QPushButton*>("IDC_EXECUTE")->isEnabled());
        for (QWidget* w : dlg.findChildren<QWidget*>())  // only the two fields take drops
            if (w != src && w != dst) QVERIFY2(!w->acceptDrops(), qPrintable(w->objectName()));
        QVERIFY(!dlg.acceptDrops());
    }

    void memoryShortageIsToldAndDropsStayOff() {
        pictrim::CMainDlg dlg;
        auto* src = dlg.findChild<CDropEdit*>("IDC_SRC_EDIT");
        auto* dst = dlg.findChild<CDropEdit*>("IDC_DST_EDIT");
        src->setText("typed");
        pictrim::test::ModalAnswerer answerer;
        pictrim::platform::SetAllocationCeilingForTesting(1);
        Drop(src, {"/pics/a.bmp"});
        pictrim::platform::SetAllocationCeilingForTesting(0);
        QCOMPARE(answerer.seen.size(), std::size_t{1});
        QCOMPARE(answerer.seen[0].title, QString("エラー"));
        QCOMPARE(answerer.seen[0].text, QString("メモリ不足です。\n0 < 12"));
        QCOMPARE(answerer.seen[0].icon, QMessageBox::NoIcon);
        QCOMPARE(src->text(), QString("typed"));
        QVERIFY(!Drop(src, {"/pics/a.bmp"}));  // refused from now on, on this field only
        QVERIFY(Drop(dst, {"/pics/a.bmp"}));
        QCOMPARE(dst->text(), QString("/pics/a.bmp"));
    }
};

QTEST_MAIN(TestDropEdit)
#include "tst_cdropedit.moc"
