// Test bench for the settings pane's Qt front end: the pane (controller, graph, view) on a
// simulated Mac in virtual time, inside a host main window on the offscreen platform, with the
// keyboard and mouse state the test sets.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLocale>
#include <QMainWindow>
#include <QMenuBar>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/system/alerts.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/store/store.h"
#include "core/system/boa_notifications.h"
#include "pane/ui/pane_ui.h"
#include "pane/ui/speed_field.h"
#include "platform/api/sleeper.h"
#include "platform/sim/sim_pasteboard.h"
#include "platform/sim/sim_workspace.h"
#include "platform/sim/world_service_manager.h"
#include "support/sim_world.h"

namespace vl::test {

class TestInput : public ui::InputState {
 public:
  Qt::KeyboardModifiers modifiers() const override { return mods; }
  bool mouseButtonDown() const override { return mouseDown; }
  Qt::KeyboardModifiers mods = Qt::NoModifier;
  bool mouseDown = false;
};

class NoSleep : public Sleeper {
 public:
  void sleep(double) override {}
};

class UiBench : public SimWorld {
 protected:
  UiBench()
      : workspace(home.path()),
        services(home.path() + "/world",
                 [](const std::vector<std::string>&, const std::string&) -> Result<pid_t> {
                   return static_cast<pid_t>(7001);
                 }),
        admin(home.path() + "/world") {
    identity = {ProcessRole::Pane, {}, {"quillon.Velmora.prefpane", "Velmora", "2.2.3", ""}};
    std::filesystem::create_directories(home.path() + "/world");
    platform.workspace = &workspace;
    platform.serviceManager = &services;
    platform.adminPrompt = &admin;
    platform.sleeper = &sleeper;
    platform.pasteboard = &pasteboard;
    settings.bundlePath = home.path() + "/Library/PreferencePanes/Velmora.prefPane";
    EXPECT_TRUE(workspace.makeBundle(settings.bundlePath + "/" + kAgentRelativePath, "quillon.Velmora.boa", false));
    settings.storePath = home.path() + "/Library/Application Support/Drovana & Velmora/Device.dvsetting";
    std::filesystem::create_directories(home.path() + "/Library/Application Support/Drovana & Velmora");
    QLocale::setDefault(QLocale::c());
  }
  ~UiBench() override {
    ui.reset();
    host.reset();
    QLocale::setDefault(QLocale::c());
  }

  // Loads and shows the pane in a host window as the settings host does.
  void open() {
    ui = std::make_unique<ui::PaneUi>(platform, errorContext(), settings, input);
    host = std::make_unique<QMainWindow>();
    host->menuBar()->addMenu(QStringLiteral("Velmora Settings"));
    nib = ui->mainNibName();
    host->setCentralWidget(ui->loadMainView(host.get()));
    host->resize(900, 760);
    host->show();
    ui->willSelect();
    ui->didSelect();
    loop.runUntilIdle();
    host->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(host.get()));
  }
  // Opens the pane with a plain USB mouse attached and waits until it is listed and chosen.
  void openWithMouse() {
    attach("generic-usb-optical-mouse");
    open();
    loop.advance(1.3);  // the pane's standby time for a device
    for (const auto& n : alerts.notices) ADD_FAILURE() << "notice: " << n.header << " " << n.message;
    ASSERT_TRUE(lifecycle.exits.empty()) << "the pane ended";
    ASSERT_EQ(ui->controller().deviceList().count(), 1u);
    ASSERT_NE(selected(), nullptr);
  }
  // Ends the current pass of the loop and what it set off (the 0.1 s save and command).
  void settle() {
    QApplication::processEvents();
    loop.runUntilIdle();
    loop.advance(0.2);
    QApplication::processEvents();
  }

  ui::PaneView& view() { return ui->view(); }
  QS805CursorSpeedClass* selected() { return ui->controller().cursorSpeedList().selectedObject(); }
  // Types text into a field as the user does: focus, select all, type, Return.
  void typeInto(QLineEdit* field, const QString& text) {
    field->setFocus(Qt::MouseFocusReason);
    field->selectAll();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
  }
  // The commands posted to the agent so far.
  std::vector<pl::Dict> commands(const std::string& command) const {
    std::vector<pl::Dict> out;
    for (const auto& n : mac.postedNotifications()) {
      if (n.name != kBOANotificationName) continue;
      if (commandString(n.userInfo, key::kCommand) == command) out.push_back(n.userInfo);
    }
    return out;
  }

  sim::SimWorkspace workspace;
  sim::WorldServiceManager services;
  sim::WorldAdminPrompt admin;
  sim::SimPasteboard pasteboard;
  NoSleep sleeper;
  TestInput input;
  PaneSettings settings;
  std::unique_ptr<ui::PaneUi> ui;
  std::unique_ptr<QMainWindow> host;
  std::string nib;
};

}  // namespace vl::test
