#pragma once
// The station's copies run in its own process, each on a thread of its own: for a run of
// one instrument, whose steps the user follows as they happen. Each copy tells its steps to
// the front end's output as it goes and reports its events to the station, as a process
// copy would; one abandoned (terminate) ends for the station at once and is heard of no
// more, while its thread finishes alone.
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "station/CopyRunner.h"
#include "station/InstrumentService.h"

class InProcessCopies : public CopyRunner {
  public:
    // `images`: the checked request's, loaded once; `program`: the command line (for "usb:"
    // names); `front`: where the copies' steps are told. All outlive this.
    InProcessCopies(const ImageSet& images, std::string program, ServiceOutput& front);
    ~InProcessCopies() override;
    size_t start(const CopyOrder& order, const std::string& port) override;
    bool next(CopyMessage& message, Clock::time_point until) override;
    void wake() override;
    void terminate(size_t copy) override;

    // What the copies and the station share: the inbox, and the copies abandoned.
    struct Shared {
        std::mutex mutex;
        std::condition_variable arrived;
        std::deque<CopyMessage> inbox;
        std::set<size_t> abandoned;
        bool woken = false;
    };

  private:
    const ImageSet& images_;
    const std::string program_;
    ServiceOutput& front_;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    std::map<size_t, std::thread> threads_;
    size_t next_ = 0;
};
