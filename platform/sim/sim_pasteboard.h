// SimPasteboard: the simulated general pasteboard, a plain text held in memory.
#pragma once

#include <optional>
#include <string>

#include "platform/api/pasteboard.h"

namespace vl::sim {

class SimPasteboard : public Pasteboard {
 public:
  std::optional<std::string> string() const override { return text_; }
  void setString(const std::string& text) override {
    text_ = text;
    ++changeCount_;
  }
  // What another program put there (or nothing).
  void put(std::optional<std::string> text) { text_ = std::move(text); }
  // How many times setString was called: a copy that was refused leaves it alone.
  int changeCount() const { return changeCount_; }

 private:
  std::optional<std::string> text_;
  int changeCount_ = 0;
};

}  // namespace vl::sim
