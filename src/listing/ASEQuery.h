// The All-Seeing Eye listing: a query responder on the game port plus 123 and master-server
// heartbeats from the same socket, as free functions over state of their own. The server
// provides the three ASEQuery_want* callbacks that fill a status reply.
#pragma once

// The last error: "socket failed", "bind failed", "unable to resolve master address" or
// "not initialized"; null before any.
extern const char* ASEQuery_error;

// Opens and binds the query socket (game port + 123, moved up by the bind retries), on
// `bindAddress` when it converts to an IPv4 address. With `announce`, sets up the masters and
// answers pings. Returns 1, or 0 with ASEQuery_error set.
int ASEQuery_initialize(int gamePort, int announce, const char* bindAddress);
int ASEQuery_init(int gamePort, int announce);
// Answers every waiting query, then sends a master heartbeat when one is due. Returns 1, or 0
// when the module is not ready.
int ASEQuery_check();
// Closes the socket and clears the ready flag.
void ASEQuery_shutdown();

// Append to the status reply being built; an append that would start past the reply's limit
// appends nothing.
void ASEQuery_status(const char* serverName, const char* gameType, const char* mapName,
                     const char* version, int passworded, int players, int maxPlayers);
void ASEQuery_addrule(const char* key, const char* value);
// A null argument leaves its field out of the entry.
void ASEQuery_addplayer(const char* name, const char* team, const char* skin, const char* score,
                        const char* ping, const char* time);

// Provided by the server; called in this order while a status reply is built.
void ASEQuery_wantstatus();
void ASEQuery_wantrules();
void ASEQuery_wantplayers();

// The query socket (for the main loop's wait), or -1; the query port actually bound, or 0.
int ASEQuery_socket();
int ASEQuery_port();

// Master set-up and heartbeat, sharing the module's state. ASEMaster_init resolves the masters
// from ASEMasterPrimary, ASEMasterSecondary and ASEMasterFallback (built-in values keep all
// traffic on this machine) and, given a non-null argument, makes a socket when the module has
// none. ASEMaster_heartbeat returns the primary's send result, 0 when none is due, -999 when
// the module is not ready or has no socket.
int ASEMaster_init(const void* ownSocket);
int ASEMaster_heartbeat(int socket, int queryPort, const char* gameName);
// Whether the primary master is on its fallback address.
bool ASEMaster_usingFallback();
