// Temporary bodies so the library links while the implementation lands.
#include "platform/runloop/DispatchQueue.h"
#include "platform/runloop/FileDescriptorSource.h"
#include "platform/runloop/Operation.h"
#include "platform/runloop/OperationQueue.h"
#include "platform/runloop/Perform.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopPump.h"
#include "platform/runloop/RunLoopSource.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/Timer.h"

namespace zv {

struct RunLoop::Impl {};
const char* runLoopRunResultName(RunLoopRunResult) { return ""; }
Ref<RunLoop> RunLoop::current() { return nullptr; }
Ref<RunLoop> RunLoop::main() { return nullptr; }
void RunLoop::setMainThreadToCurrent() {}
bool RunLoop::isMainThread() { return false; }
RunLoop::RunLoop(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RunLoop::~RunLoop() = default;
RunLoopRunResult RunLoop::run() { return RunLoopRunResult::Finished; }
RunLoopRunResult RunLoop::runMode(const RunLoopMode&, double, bool) { return RunLoopRunResult::Finished; }
RunLoopRunResult RunLoop::runModeBeforeDate(const RunLoopMode&, const Ref<Date>&) { return RunLoopRunResult::Finished; }
std::size_t RunLoop::fireDueTimers(const RunLoopMode&) { return 0; }
std::optional<RunLoopMode> RunLoop::currentMode() const { return std::nullopt; }
void RunLoop::stop() {}
void RunLoop::wakeUp() {}
bool RunLoop::isWaiting() const { return false; }
bool RunLoop::isEnded() const { return false; }
void RunLoop::addCommonMode(const RunLoopMode&) {}
void RunLoop::addTimer(const Ref<Timer>&, const RunLoopMode&) {}
void RunLoop::addSource(const Ref<RunLoopSource>&, const RunLoopMode&) {}
void RunLoop::removeSource(const Ref<RunLoopSource>&, const RunLoopMode&) {}
bool RunLoop::containsSource(const Ref<RunLoopSource>&, const RunLoopMode&) const { return false; }
bool RunLoop::perform(std::function<void()>, std::vector<RunLoopMode>) { return false; }
std::string RunLoop::threadName() const { return {}; }
std::string RunLoop::description() const { return {}; }

RunLoopSource::RunLoopSource(Handler handler) : handler_(std::move(handler)) {}
Ref<RunLoopSource> RunLoopSource::create(Handler handler) { return std::make_shared<RunLoopSource>(std::move(handler)); }
RunLoopSource::~RunLoopSource() = default;
void RunLoopSource::signal() {}
void RunLoopSource::invalidate() {}
bool RunLoopSource::isScheduled() const { return false; }
void RunLoopSource::perform() {}
void RunLoopSource::attach(RunLoop*) {}
void RunLoopSource::detach(RunLoop*) {}
std::vector<RunLoop*> RunLoopSource::attachedLoops() const { return {}; }

FileDescriptorSource::FileDescriptorSource(int fd, std::uint32_t events, EventHandler handler)
    : fd_(fd), events_(events), handler_(std::move(handler)) {}
Ref<FileDescriptorSource> FileDescriptorSource::create(int fd, std::uint32_t events, EventHandler handler) {
  return std::make_shared<FileDescriptorSource>(fd, events, std::move(handler));
}
FileDescriptorSource::~FileDescriptorSource() = default;
void FileDescriptorSource::setEvents(std::uint32_t events) { events_ = events; }
void FileDescriptorSource::performEvents(std::uint32_t) {}

Ref<Timer> Timer::create(double, bool, Callback) { return nullptr; }
Ref<Timer> Timer::createWithFireDate(double, double, bool, Callback) { return nullptr; }
Ref<Timer> Timer::scheduledTimer(double, bool, Callback) { return nullptr; }
Timer::Timer(double firstFire, double interval, bool repeats, Callback callback)
    : interval_(interval), repeats_(repeats), callback_(std::move(callback)), fireDate_(firstFire) {}
Timer::~Timer() = default;
void Timer::invalidate() {}
double Timer::fireDate() const { return fireDate_; }
void Timer::setFireDate(double) {}
void Timer::fire() {}
bool Timer::bindTo(RunLoop*) { return false; }
void Timer::unbind(RunLoop*) {}
void Timer::advanceAfterFiring(double) {}

Ref<Thread> Thread::create(Body body, std::string name) { return std::make_shared<Thread>(std::move(body), std::move(name)); }
Ref<Thread> Thread::detachNew(Body, std::string) { return nullptr; }
Ref<Thread> Thread::startRunLoopThread(std::string) { return nullptr; }
Ref<Thread> Thread::current() { return nullptr; }
Ref<Thread> Thread::mainThread() { return nullptr; }
bool Thread::isMainThread() { return false; }
void Thread::sleepForTimeInterval(double) {}
Thread::Thread(Body body, std::string name) : body_(std::move(body)), name_(std::move(name)) {}
Thread::~Thread() = default;
void Thread::start() {}
void Thread::cancel() {}
bool Thread::isMainThreadObject() const { return false; }
void Thread::join() {}
bool Thread::joinFor(double) { return false; }
std::string Thread::name() const { return name_; }
void Thread::setName(std::string) {}
Ref<RunLoop> Thread::runLoop() const { return nullptr; }
std::string Thread::description() const { return {}; }
Ref<Thread> Thread::currentIfExists() { return nullptr; }
void Thread::bindRunLoop(const Ref<RunLoop>&) {}
void Thread::main() {}

bool performOnMainThread(std::function<void()>, bool, const PerformModes&) { return false; }
bool performOnThread(const Ref<Thread>&, std::function<void()>, bool, const PerformModes&) { return false; }
bool performOnRunLoop(const Ref<RunLoop>&, std::function<void()>, bool, const PerformModes&) { return false; }
Ref<Timer> performAfterDelay(double, std::function<void()>, const PerformModes&, const void*) { return nullptr; }
std::size_t cancelPreviousPerformRequests(const void*) { return 0; }

bool pumpRunLoopUntil(const std::function<bool()>&, double, const RunLoopMode&) { return false; }
void pumpRunLoopFor(double, const RunLoopMode&) {}

struct DispatchQueue::SerialState {};
Ref<DispatchQueue> DispatchQueue::mainQueue() { return nullptr; }
Ref<DispatchQueue> DispatchQueue::globalQueue(DispatchQueuePriority) { return nullptr; }
Ref<DispatchQueue> DispatchQueue::createSerial(std::string) { return nullptr; }
Ref<DispatchQueue> DispatchQueue::currentQueue() { return nullptr; }
DispatchQueue::DispatchQueue(Kind kind, std::string label, DispatchQueuePriority priority)
    : kind_(kind), label_(std::move(label)), priority_(priority) {}
DispatchQueue::~DispatchQueue() = default;
void DispatchQueue::async(std::function<void()>) {}
void DispatchQueue::sync(std::function<void()>) {}
void DispatchQueue::after(double, std::function<void()>) {}
std::string DispatchQueue::description() const { return {}; }
void DispatchQueue::runItem(const std::function<void()>&) {}
void DispatchQueue::drainSerial() {}
void dispatchOnce(DispatchOnceToken& token, const std::function<void()>& work) { std::call_once(token, work); }

Operation::Operation() = default;
Operation::~Operation() = default;
void Operation::start() {}
bool Operation::isReady() const { return true; }
void Operation::cancel() {}
void Operation::addDependency(const Ref<Operation>&) {}
void Operation::removeDependency(const Ref<Operation>&) {}
std::vector<Ref<Operation>> Operation::dependencies() const { return {}; }
std::function<void()> Operation::completionBlock() const { return {}; }
void Operation::setCompletionBlock(std::function<void()>) {}
void Operation::waitUntilFinished() {}
void Operation::willChangeValueForKey(std::string_view) {}
void Operation::didChangeValueForKey(std::string_view) {}
void Operation::setStateObserver(std::function<void(Operation&)>) {}
void Operation::markExecuting() {}
void Operation::markFinished() {}
void Operation::dependencyChanged() {}
void Operation::finishedAnnounced() {}
Ref<BlockOperation> BlockOperation::create(std::function<void()>) { return nullptr; }
void BlockOperation::addExecutionBlock(std::function<void()>) {}
void BlockOperation::main() {}

struct OperationQueue::State {};
OperationQueue::OperationQueue() = default;
OperationQueue::OperationQueue(bool) {}
OperationQueue::~OperationQueue() = default;
Ref<OperationQueue> OperationQueue::create() { return std::make_shared<OperationQueue>(); }
Ref<OperationQueue> OperationQueue::mainQueue() { return nullptr; }
Ref<OperationQueue> OperationQueue::currentQueue() { return nullptr; }
void OperationQueue::addOperation(const Ref<Operation>&) {}
void OperationQueue::addOperations(const std::vector<Ref<Operation>>&, bool) {}
void OperationQueue::addOperationWithBlock(std::function<void()>) {}
std::vector<Ref<Operation>> OperationQueue::operations() const { return {}; }
std::size_t OperationQueue::operationCount() const { return 0; }
int OperationQueue::maxConcurrentOperationCount() const { return -1; }
void OperationQueue::setMaxConcurrentOperationCount(int) {}
bool OperationQueue::isSuspended() const { return false; }
void OperationQueue::setSuspended(bool) {}
void OperationQueue::cancelAllOperations() {}
void OperationQueue::waitUntilAllOperationsAreFinished() {}
std::string OperationQueue::name() const { return {}; }
void OperationQueue::setName(std::string) {}

}  // namespace zv
