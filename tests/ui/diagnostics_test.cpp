// The diagnostic windows in Qt: the support report's alert and its copy button, the registry
// viewer, the stored-devices sheet, and the clear question that Return cannot answer.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "pane/ui/ax_warning_window.h"
#include "pane/ui/device_window.h"
#include "pane/ui/registry_window.h"
#include "tests/ui/ui_bench.h"

namespace vl {
namespace {

class Diagnostics : public test::UiBench {
 protected:
  QPushButton* otherTabButton(const QString& label) {
    view().selectTab(ui::kOtherTabName);
    for (QPushButton* b : view().tabs()->widget(2)->findChildren<QPushButton*>())
      if (b->text() == label) return b;
    ADD_FAILURE() << label.toStdString();
    return nullptr;
  }
};

TEST_F(Diagnostics, TheSupportReportIsShownAndCopiedToTheClipboard) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  QPushButton* contact = otherTabButton(QStringLiteral("Contact Support"));
  ASSERT_TRUE(contact);
  EXPECT_EQ(contact->accessibleName(), contact->text());
  contact->click();
  std::vector<QMessageBox*> boxes = view().alertSheets();
  ASSERT_EQ(boxes.size(), 1u);
  const QString report = boxes[0]->informativeText();
  EXPECT_TRUE(report.startsWith(QStringLiteral("Device: "))) << report.toStdString();
  EXPECT_TRUE(report.contains(QStringLiteral("\nOpen: ("))) << report.toStdString();
  QAbstractButton* copy = nullptr;
  for (QAbstractButton* b : boxes[0]->buttons())
    if (b->text() == QStringLiteral("Copy to Clipboard")) copy = b;
  ASSERT_TRUE(copy);
  copy->click();
  settle();
  EXPECT_EQ(pasteboard.string(), report.toStdString());
  // Then it says so, as a notice.
  boxes = view().alertSheets();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0]->text().contains(QStringLiteral("clipboard"))) << boxes[0]->text().toStdString();
  EXPECT_EQ(boxes[0]->icon(), QMessageBox::Information);
}

TEST_F(Diagnostics, TheRegistryViewerShowsTheDumpUnwrappedAndCloses) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  otherTabButton(QStringLiteral("I/O Registry"))->click();
  ui::RegistryWindow* w = view().registryWindow();
  ASSERT_TRUE(w);
  EXPECT_TRUE(w->isVisible());
  const QString text = w->textView()->toPlainText();
  EXPECT_TRUE(text.startsWith(QStringLiteral("+-o "))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("\"VendorID\" = "))) << text.toStdString();
  EXPECT_EQ(w->textView()->lineWrapMode(), QPlainTextEdit::NoWrap);
  // Show All closes it, as the pane closes its sheets when left.
  ui->controller().showAll();
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(w->textView()->toPlainText(), QString::fromUtf8(kRegistryPleaseWait));
}

TEST_F(Diagnostics, TheStoredDevicesSheetHidesDeleteForTheConnectedMouse) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  otherTabButton(QStringLiteral("Stored Devices"))->click();
  ui::DeviceWindow* w = view().deviceWindow();
  ASSERT_TRUE(w);
  EXPECT_TRUE(w->isVisible());
  ASSERT_EQ(w->table()->rowCount(), 1);
  EXPECT_EQ(w->table()->selectionModel()->selectedRows().size(), 1);
  EXPECT_FALSE(w->deleteButton()->isVisible());
  w->delegate().closeDeviceWindow();
  EXPECT_FALSE(w->isVisible());
}

TEST_F(Diagnostics, ReturnDoesNotAnswerTheLastClearQuestion) {
  ASSERT_NO_FATAL_FAILURE(openWithMouse());
  ui::AXWarningWindow* w = view().axWarningWindow();
  ASSERT_TRUE(w);
  int answered = 0;
  SheetAlert question{"Are you sure?", "", {"OK", "Cancel"}};
  w->runConfirmAlert(question, [&](int code) { answered = code; });
  QMessageBox* box = w->confirmAlert();
  ASSERT_TRUE(box);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
  for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
    QTest::keyClick(box, static_cast<Qt::Key>(key));
    QApplication::processEvents();
    EXPECT_TRUE(box->isVisible()) << key;
  }
  EXPECT_EQ(answered, 0);
  for (QAbstractButton* b : box->buttons())
    if (b->text() == QStringLiteral("OK")) b->click();
  EXPECT_EQ(answered, kAlertFirstButtonReturn);
}

}  // namespace
}  // namespace vl
