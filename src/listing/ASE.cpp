#include "listing/ASE.h"

#include "listing/ASEQuery.h"

ASE::ASE(int gamePort, const char* address) { ASEQuery_initialize(gamePort, 1, address); }

int ASE::Update() { return ASEQuery_check(); }

int ASE::getSocketHandle() const { return ASEQuery_socket(); }
