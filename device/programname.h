#pragma once

// The names the program files its settings and data under (the settings store, the
// flashing log), kept here so that every layer can name the same folders.
namespace programName {
constexpr char Organisation[] = "Corvanel";
constexpr char Application[] = "TessaroUtility";
} // namespace programName
