#include "station/InProcessCopies.h"

namespace {
// One copy's output: told to the front end and posted to the station, until abandoned.
class Relay : public ServiceOutput {
  public:
    Relay(std::shared_ptr<InProcessCopies::Shared> shared, size_t copy, ServiceOutput& front)
        : shared_(std::move(shared)), copy_(copy), front_(front) {}

    void event(const std::string& text, const nlohmann::json& object) override {
        const CopyEvent event = readEvent(object);
        if (event.kind != CopyEvent::Kind::Record && !abandoned()) {
            front_.event(text, object);  // the record is the station's to write
        }
        post(event);
    }
    void error(const Problem& problem) override {
        if (!abandoned()) {
            front_.error(problem);
        }
        post(CopyEvent::error(problem));
    }
    void started(Operation operation, int32_t total) override {
        operation_ = operation;
        total_ = total;
        if (!abandoned()) {
            front_.started(operation, total);
        }
        post(CopyEvent::started(operation, total));
    }
    void progress(int32_t done) override {
        if (!abandoned()) {
            front_.progress(done);
        }
        post(CopyEvent::progress(operation_, done, total_));
    }
    void tick() override {
        if (!abandoned()) {
            front_.tick();
        }
    }
    // The copy's last message.
    void ended(int code) {
        ChildExit exit;
        exit.code = code;
        post(CopyEvent{}, true, exit);
    }

  private:
    bool abandoned() {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        return shared_->abandoned.count(copy_) > 0;
    }
    void post(const CopyEvent& event, bool end = false, ChildExit exit = {}) {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        if (shared_->abandoned.count(copy_) == 0) {
            shared_->inbox.push_back({copy_, end, event, exit});
            shared_->arrived.notify_all();
        }
    }

    std::shared_ptr<InProcessCopies::Shared> shared_;
    const size_t copy_;
    ServiceOutput& front_;
    Operation operation_ = Operation::Connect;
    int32_t total_ = 0;
};
}  // namespace

InProcessCopies::InProcessCopies(const ImageSet& images, std::string program, ServiceOutput& front)
    : images_(images), program_(std::move(program)), front_(front) {}

InProcessCopies::~InProcessCopies() {
    for (auto& [copy, thread] : threads_) {
        std::unique_lock<std::mutex> lock(shared_->mutex);
        const bool abandoned = shared_->abandoned.count(copy) > 0;
        lock.unlock();
        // One abandoned may still wait on its instrument; it touches only what it shares.
        abandoned ? thread.detach() : thread.join();
    }
}

size_t InProcessCopies::start(const CopyOrder& order, const std::string& port) {
    const size_t copy = next_++;
    threads_[copy] = std::thread([copy, order, port, shared = shared_, &images = images_,
                                  program = program_, &front = front_] {
        Relay relay(shared, copy, front);
        relay.ended(serviceInstrument(order, images, port, program, relay));
    });
    return copy;
}

bool InProcessCopies::next(CopyMessage& message, Clock::time_point until) {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->arrived.wait_until(lock, until,
                                [&] { return !shared_->inbox.empty() || shared_->woken; });
    shared_->woken = false;
    if (shared_->inbox.empty()) {
        return false;
    }
    message = std::move(shared_->inbox.front());
    shared_->inbox.pop_front();
    return true;
}

void InProcessCopies::wake() {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->woken = true;
    shared_->arrived.notify_all();
}

void InProcessCopies::terminate(size_t copy) {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (!shared_->abandoned.insert(copy).second) {
        return;
    }
    ChildExit exit;
    exit.signal = 15;  // as a process copy ended by the station
    shared_->inbox.push_back({copy, true, CopyEvent{}, exit});
    shared_->arrived.notify_all();
}
