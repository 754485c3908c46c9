// The run-loop behaviour every RunLoop must show, as a table shared by the virtual and the
// sd-event loop: each case schedules from one callout and lists what runs, in order.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/api/runloop.h"

namespace vl::test {

struct RunLoopCase {
  const char* name;
  // Schedules the case's work; u is the time unit (delays are small multiples of it), log
  // records what ran. Everything is over by 4 u.
  std::function<void(RunLoop& loop, double u, std::vector<std::string>& log)> setup;
  std::vector<std::string> expected;
};

inline const std::vector<RunLoopCase>& runLoopCases() {
  static const int t1 = 0, t2 = 0, obj = 0;
  static const void* const T1 = &t1;
  static const void* const T2 = &t2;
  static const void* const O = &obj;
  using Log = std::vector<std::string>;
  auto rec = [](Log& log, const char* what) { return [&log, what] { log.push_back(what); }; };
  static const std::vector<RunLoopCase> cases = {
      {"DueTimeThenSchedulingOrder",
       [rec](RunLoop& l, double u, Log& log) {
         l.perform(T1, "a", 2 * u, rec(log, "A"));
         l.perform(T1, "b", u, rec(log, "B"));
         l.post(rec(log, "C"));
         l.perform(T2, "d", 0, rec(log, "D"));
         l.perform(T2, "e", u, rec(log, "E"));
       },
       {"C", "D", "B", "E", "A"}},
      {"CancelMatchesTargetSelectorAndObjectExactly",
       [rec](RunLoop& l, double u, Log& log) {
         l.perform(T1, "x", u, rec(log, "A"));
         l.perform(T1, "x", u, rec(log, "B"), O);
         l.perform(T1, "y", u, rec(log, "C"));
         l.perform(T2, "x", u, rec(log, "D"));
         l.perform(T1, "x", 2 * u, rec(log, "E"));
         l.cancelPerform(T1, "x");
       },
       {"B", "C", "D"}},
      {"CancelAllOfATargetLeavesPostsAndOthers",
       [rec](RunLoop& l, double u, Log& log) {
         l.perform(T1, "x", u, rec(log, "A"));
         l.perform(T1, "y", 0, rec(log, "B"), O);
         l.perform(T2, "x", u, rec(log, "C"));
         l.post(rec(log, "D"));
         l.cancelAllPerforms(T1);
       },
       {"D", "C"}},
      {"SeveralPendingWithOneKeyAllRun",
       [rec](RunLoop& l, double u, Log& log) {
         l.perform(T1, "x", 2 * u, rec(log, "A"));
         l.perform(T1, "x", u, rec(log, "B"));
         log.push_back(l.hasPerform(T1, "x") && !l.hasPerform(T1, "x", O) && !l.hasPerform(T2, "x") ? "pending"
                                                                                                      : "wrong");
       },
       {"pending", "B", "A"}},
      {"WorkPostedInACalloutRunsAfterIt",
       [](RunLoop& l, double, Log& log) {
         l.post([&l, &log] {
           log.push_back("A");
           l.post([&log] { log.push_back("C"); });
           l.perform(T1, "z", 0, [&log] { log.push_back("D"); });
         });
         l.post([&log] { log.push_back("B"); });
       },
       {"A", "B", "C", "D"}},
      {"CancelFromInsideAPerform",
       [](RunLoop& l, double u, Log& log) {
         l.perform(T1, "x", u, [&l, &log] {
           log.push_back("A");
           l.cancelPerform(T1, "y");
           log.push_back(l.hasPerform(T1, "y") ? "still" : "gone");
         });
         l.perform(T1, "y", 2 * u, [&log] { log.push_back("B"); });
       },
       {"A", "gone"}},
      {"RepeatingTimerRunsUntilItRemovesItself",
       [](RunLoop& l, double u, Log& log) {
         auto token = std::make_shared<RunLoop::Token>(0);
         auto count = std::make_shared<int>(0);
         *token = l.addTimer(u * 0.75, true, [&l, &log, token, count] {
           log.push_back("T" + std::to_string(++*count));
           if (*count == 3) l.removeTimer(*token);
         });
       },
       {"T1", "T2", "T3"}},
      {"OneShotTimerAndRemovedTimer",
       [rec](RunLoop& l, double u, Log& log) {
         l.addTimer(u, false, rec(log, "once"));
         RunLoop::Token t = l.addTimer(u, true, rec(log, "never"));
         l.removeTimer(t);
       },
       {"once"}},
      {"NullTargetIsNeverCancelled",
       [rec](RunLoop& l, double u, Log& log) {
         l.perform(nullptr, "x", u, rec(log, "A"));
         l.cancelPerform(nullptr, "x");
         l.cancelAllPerforms(nullptr);
       },
       {"A"}},
      {"TimersAreNotPerforms",
       [rec](RunLoop& l, double u, Log& log) {
         l.addTimer(u, false, rec(log, "timer"));
         l.perform(T1, "x", 2 * u, rec(log, "perform"));
         l.cancelAllPerforms(nullptr);
         l.cancelPerform(T1, "y");
       },
       {"timer", "perform"}},
  };
  return cases;
}

}  // namespace vl::test
