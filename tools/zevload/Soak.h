// The soak run: a long, scripted game against a server this tool starts, judged at the end.
//
// 32 players (--players) send on-foot state at 20 Hz (--rate), chat every few seconds, report
// deaths, money and skins; one player leaves and joins again every 10 s, never sooner than the
// server's join-flood bar on its address allows; a level-2 admin stays logged in, answering
// every ping with a keep-alive, and bans and unbans addresses no player uses; a status query
// goes out every second. The script is seeded (--seed), so it knows what the server must hold
// at the end. docs/soak.md lists the criteria and how each is observed.
#pragma once

#include "Options.h"

namespace zevload {

// Runs the soak described by `options` (validated, with applySoakDefaults applied) and prints
// the summary. Returns the process exit status: 0 when every criterion passed.
int runSoak(const Options& options);

}  // namespace zevload
