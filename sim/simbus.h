#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

class SimDevice;

// The simulated USB bus: which devices are plugged in, and a clock for things that
// happen later (a device that leaves and comes back in another role).
class SimBus
{
public:
    static SimBus& instance();

    void plug(const std::shared_ptr<SimDevice>& device);
    void unplug(const SimDevice* device);
    void unplugAll();
    // Unplugs everything and forgets every scheduled action: a clean bus for the next test.
    void reset();

    std::vector<std::shared_ptr<SimDevice>> devices() const;
    std::shared_ptr<SimDevice> findByPath(const std::string& path) const;

    // Called after every plug and unplug, from the thread that made it (a test, the bus
    // thread, or a device's write), with no lock held. A second transport mirrors the bus
    // through it. An empty function removes it.
    void setChangeListener(std::function<void()> listener);

    // Runs action on the bus's own thread after delay.
    void schedule(std::chrono::milliseconds delay, std::function<void()> action);
    int pendingActions() const;

    // Counts hid_enumerate calls, for tests of the hot-plug search.
    int enumerations() const;
    void countEnumeration();

    ~SimBus();

private:
    SimBus() = default;
    void runScheduler();
    void notifyChange();

    struct Action {
        std::chrono::steady_clock::time_point at;
        unsigned long long epoch;
        std::function<void()> run;
    };

    mutable std::mutex m_mutex;
    // The scheduler has a lock of its own: devices schedule actions while holding their
    // own lock, and plug() takes a device's lock while holding m_mutex.
    mutable std::mutex m_actionMutex;
    std::condition_variable m_wake;
    std::vector<std::shared_ptr<SimDevice>> m_devices;
    std::function<void()> m_listener;
    std::vector<Action> m_actions;
    std::thread m_scheduler;
    unsigned long long m_epoch = 0;
    int m_enumerations = 0;
    bool m_stopping = false;
};

} // namespace sim
