#pragma once
#include <QString>
#include <QStringList>
#include <functional>

namespace kelvano {

// What an action must pass before its first exchange that changes the card. The runner makes
// these checks in this order, and an action that fails one is refused whole: the box has
// seen nothing but the identity exchanges.
//   1. the files: what loading them found wrong (any problem refuses);
//   2. where the results go: the caller's check of its save targets;
//   3. what the link has no form for (a PIC or the EEPROM over USB, ...);
//   4. the controller: it must be the card type's (unless forced);
//   5. the caller's questions (the loader question of a comparison): asked last, once the
//      action is known to be possible; false stops the action.
struct Preflight {
    bool controller = true;  // off: --force, the action goes on whatever answers
    QStringList fileProblems;
    std::function<QString()> targets;  // empty text: every target can be written
    std::function<bool()> consent;
};

}  // namespace kelvano
