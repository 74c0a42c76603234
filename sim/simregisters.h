#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sim {

// One register of the sensor model and the value it has after a factory reset.
struct RegisterDefault {
    const char* module;
    const char* name;
    const char* value;
};

// The configuration registers of a sensor: a working set that reads and writes change,
// and a saved set that a commit replaces with the working set. Values are texts, since
// the tool writes preset values unchanged. Not thread-safe by itself: its owner guards it.
class SensorRegisters
{
public:
    // The registers of the sample model, as data/sensors/tessaro_t1.json describes them.
    static const std::vector<RegisterDefault>& sampleModel();

    // Starts with every register of the table at its default, working and saved alike.
    explicit SensorRegisters(const std::vector<RegisterDefault>& defaults = sampleModel());

    bool contains(const std::string& module, const std::string& name) const;
    std::optional<std::string> value(const std::string& module, const std::string& name) const;
    std::optional<std::string> savedValue(const std::string& module, const std::string& name) const;

    // Sets the working value; a register not yet known is added (with no saved value).
    void set(const std::string& module, const std::string& name, const std::string& value);
    // Sets the working value of a known register only.
    bool write(const std::string& module, const std::string& name, const std::string& value);
    void remove(const std::string& module, const std::string& name);

    void commit();
    // Back to the table's defaults, working and saved alike.
    void restoreDefaults();

private:
    using Key = std::pair<std::string, std::string>;
    struct Register {
        std::string value;
        std::optional<std::string> saved;
    };

    std::vector<RegisterDefault> m_defaults;
    std::map<Key, Register> m_registers;
};

} // namespace sim
