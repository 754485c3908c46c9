// Group commit: concurrent callers' rows are written in one transaction by whichever caller
// finds no commit under way, and every caller returns only once its own row is committed.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "tools/service/storage.h"

namespace svc {

class CommitGroups {
 public:
  // Writes the rows in one transaction and sets each one's status (all alike when the
  // transaction as a whole succeeds or fails).
  using WriteGroup = std::function<void(const std::vector<const UploadRow*>& rows, std::vector<Status>* statuses)>;

  explicit CommitGroups(WriteGroup write) : write_(std::move(write)) {}

  Status submit(const UploadRow& row) {
    Pending mine{&row, Status::success(), false};
    std::unique_lock lock(mutex_);
    queue_.push_back(&mine);
    while (!mine.done) {
      if (writing_) {
        done_.wait(lock);
        continue;
      }
      writing_ = true;
      std::vector<Pending*> batch;
      batch.swap(queue_);
      lock.unlock();
      std::vector<const UploadRow*> rows;
      rows.reserve(batch.size());
      for (Pending* p : batch) rows.push_back(p->row);
      std::vector<Status> statuses(batch.size());
      write_(rows, &statuses);
      lock.lock();
      for (size_t i = 0; i < batch.size(); ++i) {
        batch[i]->status = std::move(statuses[i]);
        batch[i]->done = true;
      }
      writing_ = false;
      done_.notify_all();
    }
    return mine.status;
  }

 private:
  struct Pending {
    const UploadRow* row;
    Status status;
    bool done;
  };
  WriteGroup write_;
  std::mutex mutex_;
  std::condition_variable done_;
  std::vector<Pending*> queue_;
  bool writing_ = false;
};

}  // namespace svc
