// The key output of --simulate: each key event on standard output, with its time in
// milliseconds since the start.
#ifndef GEARVANE_KEY_PRINTER_H
#define GEARVANE_KEY_PRINTER_H

#include "key_output.h"

class KeyPrinter final : public KeyOutput {
public:
    KeyPrinter(const ShiftKeys &keys, int64_t start) : keys(keys), start(start) {}

    void SetKeys(const ShiftKeys &fresh, int64_t) override { keys = fresh; }
    const ShiftKeys &Keys() const override { return keys; }

private:
    bool Press(int32_t direction, int64_t now) override;
    bool Release(int64_t now) override;
    bool Print(int64_t now, const char *edge);

    ShiftKeys keys;
    int64_t start;
    std::string down;  // the name of the key that is down
};

#endif
