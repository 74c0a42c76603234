#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The words the bash completion offers, read from the parameter file of every sensor model
// the catalogue names. No device is opened: names complete with no sensor attached, and a
// Tab sends nothing to a sensor that is.
namespace ctlCompletionWords {

// "registers": every register as "module:regname"; "presets": every preset's name;
// "values NAME": the choices of the enum register NAME (as set finds it) in any model.
// Each word once, in the order of the files. None for any other request.
std::optional<QStringList> wordsFor(const QStringList& request);

} // namespace ctlCompletionWords
