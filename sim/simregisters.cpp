#include "simregisters.h"

namespace sim {

const std::vector<RegisterDefault>& SensorRegisters::sampleModel()
{
    // Kept by hand in step with data/sensors/tessaro_t1.json (the sim reads no JSON);
    // tst_simsensor checks that both name the same registers and that the defaults fit.
    static const std::vector<RegisterDefault> table = {
        // system tab
        {"sens", "minspot", "3"},
        {"sens", "filter", "1"},
        {"sens", "mirror", "0"},
        {"pen", "mode", "2"},
        {"pen", "hover", "1"},
        {"pen", "sleep", "120"},
        {"cal", "margin", "8"},
        {"cal", "keep", "1"},
        // advanced tab; conf1thr 136 is automatic mode, 8 would be manual
        {"sens", "conf1thr", "136"},
        {"sens", "thrman", "80"},
        {"sens", "thrauto", "20"},
        {"sens", "gain", "4"},
        {"sens", "expo", "250"},
        {"sens", "fps", "100"},
        {"sens", "smooth", "3"},
        {"sens", "pwrsave", "0"},
    };
    return table;
}

SensorRegisters::SensorRegisters(const std::vector<RegisterDefault>& defaults)
    : m_defaults(defaults)
{
    restoreDefaults();
}

bool SensorRegisters::contains(const std::string& module, const std::string& name) const
{
    return m_registers.count(Key(module, name)) > 0;
}

std::optional<std::string> SensorRegisters::value(const std::string& module, const std::string& name) const
{
    const auto it = m_registers.find(Key(module, name));
    if (it == m_registers.end())
        return std::nullopt;
    return it->second.value;
}

std::optional<std::string> SensorRegisters::savedValue(const std::string& module, const std::string& name) const
{
    const auto it = m_registers.find(Key(module, name));
    if (it == m_registers.end())
        return std::nullopt;
    return it->second.saved;
}

void SensorRegisters::set(const std::string& module, const std::string& name, const std::string& value)
{
    m_registers[Key(module, name)].value = value;
}

bool SensorRegisters::write(const std::string& module, const std::string& name, const std::string& value)
{
    const auto it = m_registers.find(Key(module, name));
    if (it == m_registers.end())
        return false;
    it->second.value = value;
    return true;
}

void SensorRegisters::remove(const std::string& module, const std::string& name)
{
    m_registers.erase(Key(module, name));
}

void SensorRegisters::commit()
{
    for (auto& entry : m_registers)
        entry.second.saved = entry.second.value;
}

void SensorRegisters::restoreDefaults()
{
    m_registers.clear();
    for (const RegisterDefault& d : m_defaults)
        m_registers[Key(d.module, d.name)] = Register{d.value, std::string(d.value)};
}

} // namespace sim
