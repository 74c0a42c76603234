#include "simbus.h"

#include "simdevice.h"

#include <algorithm>

namespace sim {

SimBus& SimBus::instance()
{
    static SimBus bus;
    return bus;
}

SimBus::~SimBus()
{
    {
        std::lock_guard<std::mutex> guard(m_actionMutex);
        m_stopping = true;
        m_wake.notify_all();
    }
    if (m_scheduler.joinable())
        m_scheduler.join();
}

void SimBus::plug(const std::shared_ptr<SimDevice>& device)
{
    if (!device)
        return;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (std::find(m_devices.begin(), m_devices.end(), device) != m_devices.end())
            return;
        device->attach();
        m_devices.push_back(device);
    }
    notifyChange();
}

void SimBus::unplug(const SimDevice* device)
{
    std::shared_ptr<SimDevice> gone;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        const auto it = std::find_if(m_devices.begin(), m_devices.end(),
                                     [device](const auto& d) { return d.get() == device; });
        if (it == m_devices.end())
            return;
        gone = *it;
        m_devices.erase(it);
    }
    gone->detach();
    notifyChange();
}

void SimBus::unplugAll()
{
    std::vector<std::shared_ptr<SimDevice>> gone;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        gone.swap(m_devices);
    }
    for (const auto& device : gone)
        device->detach();
    if (!gone.empty())
        notifyChange();
}

void SimBus::setChangeListener(std::function<void()> listener)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_listener = std::move(listener);
}

void SimBus::notifyChange()
{
    std::function<void()> listener;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        listener = m_listener;
    }
    if (listener)
        listener();
}

void SimBus::reset()
{
    {
        std::lock_guard<std::mutex> guard(m_actionMutex);
        m_actions.clear();
        ++m_epoch;
    }
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_enumerations = 0;
    }
    unplugAll();
}

std::vector<std::shared_ptr<SimDevice>> SimBus::devices() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_devices;
}

std::shared_ptr<SimDevice> SimBus::findByPath(const std::string& path) const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    for (const auto& device : m_devices) {
        if (device->info().path == path)
            return device;
    }
    return nullptr;
}

void SimBus::schedule(std::chrono::milliseconds delay, std::function<void()> action)
{
    std::lock_guard<std::mutex> guard(m_actionMutex);
    m_actions.push_back(Action{std::chrono::steady_clock::now() + delay, m_epoch, std::move(action)});
    if (!m_scheduler.joinable())
        m_scheduler = std::thread(&SimBus::runScheduler, this);
    m_wake.notify_all();
}

int SimBus::pendingActions() const
{
    std::lock_guard<std::mutex> guard(m_actionMutex);
    return static_cast<int>(m_actions.size());
}

int SimBus::enumerations() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_enumerations;
}

void SimBus::countEnumeration()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    ++m_enumerations;
}

void SimBus::runScheduler()
{
    std::unique_lock<std::mutex> guard(m_actionMutex);
    while (!m_stopping) {
        if (m_actions.empty()) {
            m_wake.wait(guard);
            continue;
        }
        const auto next = std::min_element(m_actions.begin(), m_actions.end(),
                                           [](const Action& a, const Action& b) { return a.at < b.at; });
        if (next->at > std::chrono::steady_clock::now()) {
            m_wake.wait_until(guard, next->at);
            continue;
        }
        Action action = std::move(*next);
        m_actions.erase(next);
        if (action.epoch != m_epoch)
            continue;
        guard.unlock();
        action.run();
        guard.lock();
    }
}

} // namespace sim
