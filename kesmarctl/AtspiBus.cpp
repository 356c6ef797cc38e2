#include "AtspiBus.h"

#include <atspi/atspi.h>

#include <cstdlib>
#include <memory>
#include <string_view>

#include "Backend.h"

namespace kesmarctl::atspi {

namespace {

constexpr const char *accessibleIface = "org.a11y.atspi.Accessible";
constexpr const char *propertiesIface = "org.freedesktop.DBus.Properties";

struct Unref
{
    void operator()(DBusMessage *m) const { dbus_message_unref(m); }
};
using Message = std::unique_ptr<DBusMessage, Unref>;

// libatspi speaks through GLib's log, which would add lines of its own to
// stderr; the last one says why the bus could not be found.
std::string &lastLibraryMessage()
{
    static std::string message;
    return message;
}

void keepLibraryMessage(const gchar *, GLogLevelFlags, const gchar *message, gpointer)
{
    lastLibraryMessage() = message ? message : "";
}

// D-Bus explains at length; its first sentence says it.
std::string firstSentence(std::string_view text)
{
    const auto end = text.find(". ");
    return std::string(text.substr(0, end == std::string_view::npos ? text.size() : end + 1));
}

Message newCall(const Object &o, const char *iface, const char *method)
{
    Message m(dbus_message_new_method_call(o.bus.c_str(), o.path.c_str(), iface, method));
    if (!m)
        throw std::bad_alloc();
    return m;
}

// An answer's arguments, each checked for its type as it is read.
class Reader
{
  public:
    explicit Reader(DBusMessage *m)
    {
        if (!dbus_message_iter_init(m, &it_))
            empty_ = true;
    }

    bool more() { return !empty_ && dbus_message_iter_get_arg_type(&it_) != DBUS_TYPE_INVALID; }

    Reader enter(int type)
    {
        expect(type);
        Reader inner;
        dbus_message_iter_recurse(&it_, &inner.it_);
        dbus_message_iter_next(&it_);
        return inner;
    }

    template <typename T> T basic(int type)
    {
        expect(type);
        T value{};
        dbus_message_iter_get_basic(&it_, &value);
        dbus_message_iter_next(&it_);
        return value;
    }

    std::string string(int type = DBUS_TYPE_STRING)
    {
        const char *s = basic<const char *>(type);
        return s ? s : "";
    }

  private:
    Reader() = default;

    void expect(int type)
    {
        if (!more() || dbus_message_iter_get_arg_type(&it_) != type)
            throw CallError{"The answer was not of the form AT-SPI gives."};
    }

    DBusMessageIter it_{};
    bool empty_ = false;
};

} // namespace

Bus &Bus::open()
{
    static Bus *const bus = [] {
        g_log_set_default_handler(keepLibraryMessage, nullptr);
        DBusConnection *c = atspi_get_a11y_bus();
        return c ? new Bus(c) : nullptr;
    }();
    if (!bus) {
        const char *session = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        const std::string why = !lastLibraryMessage().empty() ? lastLibraryMessage()
                                : session && *session
                                    ? "the session bus named by DBUS_SESSION_BUS_ADDRESS gave none"
                                    : "DBUS_SESSION_BUS_ADDRESS is not set";
        throw Failure("cannot reach the accessibility bus (" + why +
                      "); kesmarctl finds kesmar there, through the D-Bus session bus "
                      "kesmar was started with");
    }
    return *bus;
}

Object Bus::desktop()
{
    return {"org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root"};
}

namespace {

Message send(DBusConnection *c, const Message &call)
{
    DBusError error;
    dbus_error_init(&error);
    Message reply(dbus_connection_send_with_reply_and_block(c, call.get(), callTimeoutMs, &error));
    if (!reply) {
        CallError failed{dbus_error_has_name(&error, DBUS_ERROR_NO_REPLY)
                             ? "No answer within " + std::to_string(callTimeoutMs / 1000) + " s."
                             : firstSentence(error.message ? error.message : "")};
        dbus_error_free(&error);
        throw failed;
    }
    return reply;
}

Message getProperty(DBusConnection *c, const Object &o, const char *iface, const char *name)
{
    const Message call = newCall(o, propertiesIface, "Get");
    dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &iface, DBUS_TYPE_STRING, &name,
                             DBUS_TYPE_INVALID);
    return send(c, call);
}

} // namespace

std::vector<Object> Bus::children(const Object &o)
{
    const Message reply = send(connection_, newCall(o, accessibleIface, "GetChildren"));
    std::vector<Object> all;
    Reader array = Reader(reply.get()).enter(DBUS_TYPE_ARRAY);
    while (array.more()) {
        Reader ref = array.enter(DBUS_TYPE_STRUCT);
        std::string bus = ref.string();
        all.push_back({std::move(bus), ref.string(DBUS_TYPE_OBJECT_PATH)});
    }
    return all;
}

std::uint32_t Bus::role(const Object &o)
{
    const Message reply = send(connection_, newCall(o, accessibleIface, "GetRole"));
    return Reader(reply.get()).basic<dbus_uint32_t>(DBUS_TYPE_UINT32);
}

std::string Bus::name(const Object &o)
{
    const Message reply = getProperty(connection_, o, accessibleIface, "Name");
    return Reader(reply.get()).enter(DBUS_TYPE_VARIANT).string();
}

std::uint64_t Bus::states(const Object &o)
{
    const Message reply = send(connection_, newCall(o, accessibleIface, "GetState"));
    Reader words = Reader(reply.get()).enter(DBUS_TYPE_ARRAY);
    std::uint64_t all = 0;
    for (int shift = 0; shift < 64 && words.more(); shift += 32)
        all |= std::uint64_t{words.basic<dbus_uint32_t>(DBUS_TYPE_UINT32)} << shift;
    return all;
}

std::vector<std::string> Bus::actions(const Object &o)
{
    const Message reply = send(connection_, newCall(o, "org.a11y.atspi.Action", "GetActions"));
    std::vector<std::string> names;
    Reader array = Reader(reply.get()).enter(DBUS_TYPE_ARRAY);
    while (array.more())
        names.push_back(array.enter(DBUS_TYPE_STRUCT).string()); // name, description, keys
    return names;
}

bool Bus::doAction(const Object &o, int index)
{
    const Message call = newCall(o, "org.a11y.atspi.Action", "DoAction");
    const dbus_int32_t i = index;
    dbus_message_append_args(call.get(), DBUS_TYPE_INT32, &i, DBUS_TYPE_INVALID);
    const Message reply = send(connection_, call);
    return Reader(reply.get()).basic<dbus_bool_t>(DBUS_TYPE_BOOLEAN);
}

double Bus::currentValue(const Object &o)
{
    const Message reply = getProperty(connection_, o, "org.a11y.atspi.Value", "CurrentValue");
    return Reader(reply.get()).enter(DBUS_TYPE_VARIANT).basic<double>(DBUS_TYPE_DOUBLE);
}

void Bus::setCurrentValue(const Object &o, double value)
{
    const Message call = newCall(o, propertiesIface, "Set");
    const char *iface = "org.a11y.atspi.Value";
    const char *property = "CurrentValue";
    DBusMessageIter args, variant;
    dbus_message_iter_init_append(call.get(), &args);
    if (!dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &iface) ||
        !dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &property) ||
        !dbus_message_iter_open_container(&args, DBUS_TYPE_VARIANT, "d", &variant))
        throw std::bad_alloc();
    if (!dbus_message_iter_append_basic(&variant, DBUS_TYPE_DOUBLE, &value)) {
        dbus_message_iter_abandon_container(&args, &variant);
        throw std::bad_alloc();
    }
    if (!dbus_message_iter_close_container(&args, &variant))
        throw std::bad_alloc();
    send(connection_, call);
}

std::string Bus::text(const Object &o)
{
    const Message call = newCall(o, "org.a11y.atspi.Text", "GetText");
    // 0 to -1: the whole text, however long it has grown meanwhile.
    const dbus_int32_t from = 0, to = -1;
    dbus_message_append_args(call.get(), DBUS_TYPE_INT32, &from, DBUS_TYPE_INT32, &to,
                             DBUS_TYPE_INVALID);
    const Message reply = send(connection_, call);
    return Reader(reply.get()).string();
}

pid_t Bus::processOf(const Object &o)
{
    const Message call(dbus_message_new_method_call(
        DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "GetConnectionUnixProcessID"));
    if (!call)
        throw std::bad_alloc();
    const char *name = o.bus.c_str();
    dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
    const Message reply = send(connection_, call);
    return static_cast<pid_t>(Reader(reply.get()).basic<dbus_uint32_t>(DBUS_TYPE_UINT32));
}

} // namespace kesmarctl::atspi
