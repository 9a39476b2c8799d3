#include "listing/ASE.h"

#include "listing/ASEQuery.h"
#include "listing/ASEState.h"

ASE::ASE(int gamePort, const char* address) { ASEQuery_initialize(gamePort, 1, address); }

int ASE::Update() { return ASEQuery_check(); }

int ASE::getSocketHandle() const { return ASEQuery_socket(); }

AseCounters ASE::getCounters() const { return aseState().counters; }
