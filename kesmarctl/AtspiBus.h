#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct DBusConnection;

// The AT-SPI calls kesmarctl makes, each one D-Bus method call on the
// accessibility bus that waits a bounded time for its answer. The library
// (libatspi) only finds the bus: its own calls report no error for an answer
// that never came, and wait up to 15 s on a program they have just met.
namespace kesmarctl::atspi {

// Long enough for a program at work on a large block (kesmar answers in
// well under a millisecond), short enough that a script soon learns of one
// that has stopped.
inline constexpr int callTimeoutMs = 2000;

// An accessible object: the bus name of its program, and its path there.
struct Object
{
    std::string bus;
    std::string path;
};

// A call answered with an error, or not answered within the bound. The
// message is one short sentence.
struct CallError
{
    std::string message;
};

class Bus
{
  public:
    // The accessibility bus, found as every assistive program finds it
    // (AT_SPI_BUS_ADDRESS, the X root window, the session bus). Throws
    // Failure when there is none.
    static Bus &open();

    // The desktop, whose children are the programs on the bus.
    static Object desktop();

    std::vector<Object> children(const Object &o);
    std::uint32_t role(const Object &o); // an AtspiRole
    std::string name(const Object &o);
    std::uint64_t states(const Object &o); // bit n: AtspiStateType n
    std::vector<std::string> actions(const Object &o);
    bool doAction(const Object &o, int index);
    double currentValue(const Object &o);
    void setCurrentValue(const Object &o, double value);
    std::string text(const Object &o);
    // Asks the bus itself, so a program that no longer answers has one too.
    pid_t processOf(const Object &o);

  private:
    explicit Bus(DBusConnection *connection) : connection_(connection) {}
    DBusConnection *connection_;
};

} // namespace kesmarctl::atspi
