// The words that name a run's files and key parts in its reports, as the
// user reads them on the console and in the diagnostics.
#pragma once

namespace quarvel {

// The files of a run.
inline constexpr const char* kSourceRole = "Quelldatei";
inline constexpr const char* kTargetRole = "Zieldatei";
inline constexpr const char* kKeyFileRole = "Schluesseldatei";
inline constexpr const char* kAdditiveSeriesRole = "Additionsreihe - Datei";
inline constexpr const char* kAllAdditiveRole = "Alle Additionsdatei";

// The key parts.
inline constexpr const char* kStructureKeyName = "Strukturschluessel";
inline constexpr const char* kBasicKeyName = "Grundschluessel";
inline constexpr const char* kMessageKeyName = "Spruchschluessel";

}  // namespace quarvel
