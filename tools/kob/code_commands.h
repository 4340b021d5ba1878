// The subcommands about codes, which need no device: compare, hash, plot,
// decode, encode, protocols; and the digest and decode that listen and
// learn add to what they print.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "command.h"
#include "koblib_codes.h"

namespace kob {

// Registers compare, hash, plot, decode, encode and protocols on app; the one that the command
// line names sets run.
void addCodeCommands(CLI::App& app, Run& run);

// The digest of received words (kob_hash).
std::string digest(const std::vector<std::uint32_t>& words);

// A match as JSON: every field of kobc_match (null for a field the
// protocol does not have).
nlohmann::json matchJson(const kobc_match& match);

// The decode of received words: the matches as text, each after " | ",
// and as a JSON array. Words that are no frame give no match.
std::string frameDecodeText(const std::vector<std::uint32_t>& words);
nlohmann::json frameDecodeJson(const std::vector<std::uint32_t>& words);

// What a learned CCF code decodes to, for a person: "NEC1 device=4 ..."
// per sequence that matches, "no known protocol" when none does.
std::string learnedProtocolText(const std::string& ccf);

}  // namespace kob
