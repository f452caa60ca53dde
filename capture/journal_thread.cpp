#include "capture/journal_thread.h"

#include <QMetaObject>
#include <QTimer>
#include <utility>

#include "base/thread_priority.h"
#include "base/unattended_toolkit.h"

namespace trv4 {

namespace {

constexpr int64_t kDayMs = 24LL * 3600 * 1000;

// Carries an answer back into the event loop of the thread that made it. A path never used
// goes with its object.
class ReplyPath {
 public:
  ReplyPath() : back_(new QObject) {}
  ~ReplyPath() {
    if (back_ != nullptr) back_->deleteLater();
  }
  ReplyPath(const ReplyPath&) = delete;
  ReplyPath& operator=(const ReplyPath&) = delete;

  void send(std::function<void()> fn) {
    QObject* back = std::exchange(back_, nullptr);
    QMetaObject::invokeMethod(
        back,
        [back, fn = std::move(fn)] {
          fn();
          back->deleteLater();
        },
        Qt::QueuedConnection);
  }

 private:
  QObject* back_;
};

}  // namespace

struct JournalThread::Side {
  std::unique_ptr<UnattendedToolkit> toolkit;
  std::unique_ptr<SqliteJournal> journal;
  std::unique_ptr<QTimer> pruner;
};

JournalThread::JournalThread(Toolkit& toolkit, std::string path, JournalOptions options)
    : toolkit_(toolkit), side_(std::make_unique<Side>()) {
  thread_.setObjectName(QStringLiteral("journal"));
  worker_ = new QObject;
  worker_->moveToThread(&thread_);
  thread_.start(QThread::LowPriority);
  run([this, path = std::move(path), options](Side& side) {
    scheduleThisThreadBelowTheLink();
    side.toolkit = std::make_unique<UnattendedToolkit>([this](const std::string& text) {
      QMetaObject::invokeMethod(
          &here_, [this, text] { toolkit_.messageBox(text); }, Qt::QueuedConnection);
    });
    side.journal = std::make_unique<SqliteJournal>(*side.toolkit, path, options.busyWaitMs);
    if (options.keepDays > 0) {
      const int64_t keepMs = std::min(options.keepDays, kJournalKeepDaysMax) * kDayMs;
      const auto prune = [&side, keepMs] {
        side.journal->removeDelivered(side.toolkit->wallMs() - keepMs);
      };
      prune();
      side.pruner = std::make_unique<QTimer>();
      side.pruner->setInterval(options.pruneMs);
      QObject::connect(side.pruner.get(), &QTimer::timeout, [this, prune] {
        prune();
        copy_.reload(side_->journal->newest(kNewestKept), side_->journal->undeliveredCount());
      });
      side.pruner->start();
    }
    copy_.reload(side.journal->newest(kNewestKept), side.journal->undeliveredCount());
  });
}

JournalThread::~JournalThread() {
  // Everything asked before runs first; the journal closes on its own thread.
  run([](Side& side) {
    side.pruner.reset();
    side.journal.reset();
    QThread::currentThread()->quit();
  });
  thread_.wait();
  delete worker_;
}

void JournalThread::run(std::function<void(Side&)> work) const {
  QMetaObject::invokeMethod(
      worker_, [side = side_.get(), work = std::move(work)] { work(*side); }, Qt::QueuedConnection);
}

void JournalThread::commit(Capture capture, Committed done) {
  auto reply = std::make_shared<ReplyPath>();
  run([this, reply, capture = std::move(capture), done = std::move(done)](Side& side) mutable {
    std::optional<JournalFailure> why = side.journal->commit(capture);
    if (!why) copy_.committed(capture);
    reply->send([capture = std::move(capture), why = std::move(why), done = std::move(done)] {
      done(capture, why);
    });
  });
}

void JournalThread::markDelivered(uint64_t sequence) {
  run([this, sequence](Side& side) {
    bool newly = false;
    if (side.journal->markDelivered(sequence, &newly) && newly) copy_.delivered(sequence);
  });
}

void JournalThread::readAfter(uint64_t sequence, std::size_t limit,
                              std::function<void(std::vector<Capture>)> done) const {
  auto reply = std::make_shared<ReplyPath>();
  run([reply, sequence, limit, done = std::move(done)](Side& side) mutable {
    reply->send(
        [rows = side.journal->after(sequence, limit), done = std::move(done)] { done(rows); });
  });
}

void JournalThread::readUndelivered(uint64_t sequence, std::size_t limit,
                                    std::function<void(std::vector<Capture>)> done) const {
  auto reply = std::make_shared<ReplyPath>();
  run([reply, sequence, limit, done = std::move(done)](Side& side) mutable {
    reply->send([rows = side.journal->undelivered(sequence, limit), done = std::move(done)] {
      done(rows);
    });
  });
}

void JournalThread::inspect(std::function<void(SqliteJournal&)> fn,
                            std::function<void()> done) const {
  auto reply = std::make_shared<ReplyPath>();
  run([reply, fn = std::move(fn), done = std::move(done)](Side& side) mutable {
    fn(*side.journal);
    reply->send(std::move(done));
  });
}

std::vector<Capture> JournalThread::newest(std::size_t limit) const {
  return copy_.newest(limit);
}

std::size_t JournalThread::undeliveredCount() const {
  return copy_.undelivered();
}

}  // namespace trv4
