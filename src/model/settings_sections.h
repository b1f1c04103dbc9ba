#pragma once
// The sections STOP and MATCH of the settings file; only settings.cpp reads and writes them.
#include "model/ini_file.h"
#include "model/settings.h"

namespace zanth {

StopSettings ReadStopSettings(const IniFile& file);
MatchPlan ReadMatchPlan(const IniFile& file);
// Each writes only what differs from its default, unless the file holds it already.
void WriteStopSettings(IniFile& file, const StopSettings& stop);
void WriteMatchPlan(IniFile& file, const MatchPlan& plan);

inline constexpr std::string_view kStopSection = "STOP";
inline constexpr std::string_view kMatchSection = "MATCH";

}  // namespace zanth
