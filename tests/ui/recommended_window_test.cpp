// The recommended-settings window in Qt: opened by the "Recommend" button, showing a ranking
// from the simulated service, the connection message, the consent sheet, and applying a row.
#include <QFile>
#include <QDir>

#include "core/plist/codec.h"
#include "pane/ui/local_texts.h"
#include "pane/ui/recommended_window.h"
#include "ui_bench.h"

namespace vl::test {
namespace {

const std::string kRankPath = "/velmora/xml/setting_rank.php";

pl::Dict rankEntry(double acc, double sen, int64_t qty) {
  return pl::Dict{{"Acc", acc}, {"Sen", sen}, {"Qty", pl::Value::int64(qty)}};
}

class RecdUi : public UiBench {
 protected:
  void serve(pl::Array entries) {
    std::string xml = pl::writeXml(pl::Value(std::move(entries)));
    mac.setHttpAnswer(kRankPath, pl::Data(xml.begin(), xml.end()));
  }
  void share() { EXPECT_TRUE(mac.defaults().setValue("quillon.Velmora.prefpane", kShareSettingsKey, pl::Value(true)).ok()); }
  // Presses "Recommend" and returns the window it opened.
  ui::RecommendedWindow* recommend() {
    QTest::mouseClick(view().recommendButton(), Qt::LeftButton);
    QApplication::processEvents();
    return dynamic_cast<ui::RecommendedWindow*>(ui->controller().recommendedWindow().view());
  }
  void pass(double seconds) {
    loop.advance(seconds);
    QApplication::processEvents();
  }
};

TEST_F(RecdUi, TheRankingFromTheServiceIsListedAndTheBarMovesMeanwhile) {
  openWithMouse();
  share();
  pl::Array answer{rankEntry(0.6875, 1600, 40), rankEntry(1.5, 1500, 19)};
  answer.back().asDict()->emplace("Tot", 59);
  serve(answer);
  mac.setHttpDelay(1.0);
  ui::RecommendedWindow* w = recommend();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->isVisible());
  EXPECT_FALSE(w->field(RecdField::Vid)->isVisible()) << "the identity is for search mode";
  pass(0.1);
  EXPECT_TRUE(w->progressBar()->isVisible());
  EXPECT_EQ(w->progressBar()->maximum(), 0) << "a busy bar, not a stopped one";
  EXPECT_EQ(w->statusLabel()->text().toStdString(), recd::kDownloading);
  pass(1.0);
  EXPECT_FALSE(w->progressBar()->isVisible());
  ASSERT_EQ(w->table()->rowCount(), 2);
  EXPECT_EQ(w->table()->item(0, 0)->text(), "1");
  EXPECT_EQ(w->table()->item(1, 1)->text(), "1.5");
  EXPECT_EQ(w->table()->item(1, 2)->text(), "1500");
  EXPECT_EQ(w->table()->item(0, 3)->text(), ui::RecommendedWindow::stars(5));
  EXPECT_EQ(w->table()->item(1, 3)->text(), ui::RecommendedWindow::stars(2));
  EXPECT_EQ(w->totalLabel()->text(), "59");
  EXPECT_FALSE(w->dateLabel()->text().isEmpty());
  // This system's key for undo, where the text names the Mac's.
  EXPECT_EQ(w->statusLabel()->text(), ui::platformShortcutText(QString::fromUtf8(recd::kListed)));
  EXPECT_TRUE(w->statusLabel()->text().contains(QStringLiteral("Ctrl+Z")));
  // Every control carries its label for assistive technology.
  for (QWidget* c : std::initializer_list<QWidget*>{w->table(), w->applyButton(), w->searchButton(), w->statusLabel(),
                                                    w->totalLabel(), w->dateLabel(), w->progressBar(),
                                                    w->field(RecdField::Pid), view().recommendButton()})
    EXPECT_FALSE(c->accessibleName().isEmpty()) << c->metaObject()->className();
  QDir().mkpath(VELMORA_UI_ARTIFACTS);
  w->grab().save(QStringLiteral(VELMORA_UI_ARTIFACTS "/recommended_window.png"));
}

TEST_F(RecdUi, AServerThatCannotBeReachedIsNamed) {
  openWithMouse();
  share();
  mac.setHttpError(kRankPath, kURLErrorCannotConnectToHost);
  ui::RecommendedWindow* w = recommend();
  ASSERT_NE(w, nullptr);
  pass(0.2);
  EXPECT_EQ(w->statusLabel()->text().toStdString(),
            "Failed to connect the server. Click the Recommend button to try again.\nDetails: NSURLErrorDomain, -1004");
  EXPECT_EQ(w->table()->rowCount(), 0);
}

TEST_F(RecdUi, ConsentIsAskedInASheetAndStartsTheDownload) {
  openWithMouse();
  serve({rankEntry(1, 1000, 3)});
  ui::RecommendedWindow* w = recommend();
  ASSERT_NE(w, nullptr);
  pass(0.1);
  QMessageBox* sheet = w->sheet();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
  EXPECT_EQ(sheet->text().toStdString(), recd::kSharingOff);
  QAbstractButton* start = nullptr;
  for (QAbstractButton* b : sheet->buttons())
    if (b->text() == "Start Sharing") start = b;
  ASSERT_NE(start, nullptr);
  QTest::mouseClick(start, Qt::LeftButton);
  EXPECT_EQ(w->sheet(), nullptr);
  EXPECT_EQ(mac.defaults().value("quillon.Velmora.prefpane", kShareSettingsKey), pl::Value(true));
  pass(0.1);
  EXPECT_EQ(w->table()->rowCount(), 1);
}

TEST_F(RecdUi, ApplyWritesTheChosenRowIntoTheSelectedFavourite) {
  openWithMouse();
  share();
  serve({rankEntry(0.6875, 1600, 40), rankEntry(2.5, 1234, 19)});
  ui::RecommendedWindow* w = recommend();
  ASSERT_NE(w, nullptr);
  pass(0.2);
  ASSERT_EQ(w->table()->rowCount(), 2);
  EXPECT_FALSE(w->applyButton()->isEnabled());
  w->table()->selectRow(1);
  ASSERT_TRUE(w->applyButton()->isEnabled());
  QTest::mouseClick(w->applyButton(), Qt::LeftButton);
  settle();
  EXPECT_EQ(selected()->sensitivityDisplay(), "1234");
  EXPECT_EQ(selected()->trackingSpeed(), "2.5");
  EXPECT_FALSE(selected()->disableAccl());
  EXPECT_FALSE(commands(cmd::kCursorSpeed).empty()) << "the agent hears of it as of any edit";

  // Closing the window from its title bar asks the agent to upload, as sharing is on.
  w->close();
  EXPECT_EQ(commands(cmd::kUploadCursorSpeed).size(), 1u);
  EXPECT_FALSE(w->isVisible());
}

}  // namespace
}  // namespace vl::test
