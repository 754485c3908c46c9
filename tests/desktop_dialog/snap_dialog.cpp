// A small Qt program for the desktop tests: a main window, and dialogs opened and closed on
// commands read from standard input, each reporting where its buttons lie on screen.
// Commands: "open-default" (a dialog whose "Save" button is the default), "open-plain" (a
// dialog without push buttons), "close", "pointer" (where the pointer is), "warp X Y" (move the
// pointer there), "quit". Replies, one line each on standard output: "ready", "shown X Y T" (the
// default button's centre on screen, or "-" twice, and the monotonic clock in nanoseconds when
// the dialog was shown), "closed", "pointer X Y", "warped".
#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QVBoxLayout>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

void reply(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName("velmora-test-dialog");
  QMainWindow main;
  main.setWindowTitle("Velmora test window");
  main.setCentralWidget(new QLabel("A window without buttons", &main));
  main.setGeometry(100, 100, 500, 300);
  main.show();
  main.activateWindow();

  std::unique_ptr<QDialog> dialog;
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  std::string pending;
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buf[256];
    ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
      app.quit();
      return;
    }
    pending.append(buf, static_cast<size_t>(n));
    for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
      std::string cmd = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      if (cmd == "quit") {
        app.quit();
      } else if (cmd == "pointer") {
        QPoint at = QCursor::pos();
        reply("pointer " + std::to_string(at.x()) + " " + std::to_string(at.y()));
      } else if (cmd.rfind("warp ", 0) == 0) {
        int x = 0, y = 0;
        const char* end = cmd.data() + cmd.size();
        auto rx = std::from_chars(cmd.data() + 5, end, x);
        auto ry = rx.ec == std::errc() && rx.ptr < end ? std::from_chars(rx.ptr + 1, end, y) : rx;
        if (ry.ec != std::errc()) {
          reply("error: warp X Y");
        } else {
          QCursor::setPos(x, y);
          reply("warped");
        }
      } else if (cmd == "close" && dialog) {
        dialog->hide();
        dialog.reset();
        main.activateWindow();
        reply("closed");
      } else if (cmd == "open-default" || cmd == "open-plain") {
        dialog = std::make_unique<QDialog>(&main);
        dialog->setWindowTitle("Velmora test dialog");
        auto* layout = new QVBoxLayout(dialog.get());
        layout->addWidget(new QLabel("Save the changes?", dialog.get()));
        QPushButton* save = nullptr;
        if (cmd == "open-default") {
          auto* row = new QHBoxLayout();
          auto* cancel = new QPushButton("Cancel", dialog.get());
          cancel->setAutoDefault(false);
          save = new QPushButton("Save", dialog.get());
          save->setDefault(true);
          row->addWidget(cancel);
          row->addWidget(save);
          layout->addLayout(row);
        } else {
          layout->addWidget(new QCheckBox("Remember this choice", dialog.get()));
        }
        dialog->setGeometry(700, 500, 320, 140);
        dialog->show();
        dialog->activateWindow();
        const long long shownAt = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                      std::chrono::steady_clock::now().time_since_epoch())
                                      .count();
        // Reported once the dialog is laid out and mapped.
        QTimer::singleShot(100, dialog.get(), [&dialog, save, shownAt] {
          if (!dialog) return;
          if (save) {
            QPoint c = save->mapToGlobal(save->rect().center());
            reply("shown " + std::to_string(c.x()) + " " + std::to_string(c.y()) + " " + std::to_string(shownAt));
          } else {
            reply("shown - - " + std::to_string(shownAt));
          }
        });
      }
    }
  });
  QTimer::singleShot(0, [] { reply("ready"); });
  return app.exec();
}
