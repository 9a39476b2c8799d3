#include "listing/ASE.h"

ASE::ASE(int gamePort, const char* address) {
    (void)gamePort;
    (void)address;
}

ASE::~ASE() = default;

void ASE::Update() {}
