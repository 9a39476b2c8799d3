// The hook for waiting for a key before a console window closes. The server may run detached
// from any terminal, so it returns at once without reading input.
#pragma once

class Keyboard {
public:
    int getKey() { return 0; }
};
