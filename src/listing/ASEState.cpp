#include "listing/ASEState.h"

#include <unistd.h>

namespace {

AseState* g_state = nullptr;

}  // namespace

AseState& aseState() {
    if (g_state == nullptr) g_state = new AseState();
    return *g_state;
}

void aseResetState() {
    if (g_state != nullptr && g_state->socket >= 0) close(g_state->socket);
    delete g_state;
    g_state = nullptr;
}
