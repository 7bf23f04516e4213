// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// A bus peer for the fault tests, on raw libdbus so that it is fast and does
// exactly what it is told: nothing is answered behind its back.
//
//   fault-peer hold (--system|--session) [--name NAME] [--answer-notify] [--record FILE]
//       Owns NAME (when given) and reads every message sent to it without
//       answering, unless --answer-notify: then Notify calls get an id back.
//       The member of each method call (and, for Notify, its summary) is
//       appended to FILE. Prints "ready UNIQUE-NAME" once set up, then takes
//       tab-separated commands on stdin, answering each with "ok" or "error":
//         emit DEST|- PATH IFACE MEMBER s TEXT
//         emit DEST|- PATH IFACE MEMBER as TEXT...
//         emit DEST|- PATH IFACE MEMBER i NUMBER
//         release
//
//   fault-peer flood (--system|--session) --rate N --seconds S --user NAME
//                    [--mine-every K] [--size BYTES] [--expect FILE] [--tag TEXT]
//                    [--upgrade-list-first]
//       Broadcasts sigSystemNotificationSent of the system daemon at N per
//       second: one payload in K is a valid notice for NAME (its summary goes
//       to FILE), the others are notices for other users and malformed texts
//       of many shapes, each padded to about BYTES. Prints one line of figures.
//       With --upgrade-list-first, an upgrade list goes out before the flood:
//       the daemon then asks its questions, which are never answered.

#include <dbus/dbus.h>

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char *const kDaemonPath = "/appstore";
const char *const kDaemonInterface = "com.home.appstore.daemon.interface";

struct Options
{
    DBusBusType bus = DBUS_BUS_SYSTEM;
    std::string name;
    std::string record;
    bool answerNotify = false;
    long rate = 10000;
    double seconds = 10;
    std::string user;
    long mineEvery = 20;
    long size = 0;
    std::string expect;
    std::string tag = "flood";
    bool upgradeListFirst = false;
};

[[noreturn]] void die(const std::string &what)
{
    std::cerr << "fault-peer: " << what << std::endl;
    std::exit(2);
}

Options parse(int argc, char **argv)
{
    Options o;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                die("missing value after " + arg);
            return argv[++i];
        };
        if (arg == "--system")
            o.bus = DBUS_BUS_SYSTEM;
        else if (arg == "--session")
            o.bus = DBUS_BUS_SESSION;
        else if (arg == "--name")
            o.name = value();
        else if (arg == "--record")
            o.record = value();
        else if (arg == "--answer-notify")
            o.answerNotify = true;
        else if (arg == "--rate")
            o.rate = std::stol(value());
        else if (arg == "--seconds")
            o.seconds = std::stod(value());
        else if (arg == "--user")
            o.user = value();
        else if (arg == "--mine-every")
            o.mineEvery = std::stol(value());
        else if (arg == "--size")
            o.size = std::stol(value());
        else if (arg == "--expect")
            o.expect = value();
        else if (arg == "--tag")
            o.tag = value();
        else if (arg == "--upgrade-list-first")
            o.upgradeListFirst = true;
        else
            die("unknown option " + arg);
    }
    return o;
}

DBusConnection *connect(const Options &o)
{
    DBusError error;
    dbus_error_init(&error);
    DBusConnection *connection = dbus_bus_get_private(o.bus, &error);
    if (!connection)
        die(std::string("cannot connect: ") + error.message);
    dbus_connection_set_exit_on_disconnect(connection, false);
    if (!o.name.empty()) {
        const int result = dbus_bus_request_name(connection, o.name.c_str(), DBUS_NAME_FLAG_DO_NOT_QUEUE, &error);
        if (result != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER)
            die("cannot own " + o.name + (dbus_error_is_set(&error) ? std::string(": ") + error.message : ""));
    }
    return connection;
}

std::vector<std::string> split(const std::string &line, char separator)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, separator))
        fields.push_back(field);
    return fields;
}

bool emit(DBusConnection *connection, const std::vector<std::string> &f)
{
    if (f.size() < 6)
        return false;
    DBusMessage *message = dbus_message_new_signal(f[2].c_str(), f[3].c_str(), f[4].c_str());
    if (!message)
        return false;
    if (f[1] != "-")
        dbus_message_set_destination(message, f[1].c_str());
    DBusMessageIter args;
    dbus_message_iter_init_append(message, &args);
    bool ok = true;
    const std::string &signature = f[5];
    if (signature == "s") {
        const char *text = f.size() > 6 ? f[6].c_str() : "";
        ok = dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &text);
    } else if (signature == "as") {
        DBusMessageIter array;
        ok = dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "s", &array);
        for (size_t i = 6; ok && i < f.size(); ++i) {
            const char *text = f[i].c_str();
            ok = dbus_message_iter_append_basic(&array, DBUS_TYPE_STRING, &text);
        }
        ok = ok && dbus_message_iter_close_container(&args, &array);
    } else if (signature == "i") {
        const dbus_int32_t number = f.size() > 6 ? std::stoi(f[6]) : 0;
        ok = dbus_message_iter_append_basic(&args, DBUS_TYPE_INT32, &number);
    } else {
        ok = false;
    }
    ok = ok && dbus_connection_send(connection, message, nullptr);
    dbus_message_unref(message);
    dbus_connection_flush(connection);
    // A round trip to the bus: once it is answered, the bus has routed the
    // signal, so whatever anyone sends later reaches receivers after it.
    DBusError error;
    dbus_error_init(&error);
    dbus_bus_name_has_owner(connection, "org.freedesktop.DBus", &error);
    ok = ok && !dbus_error_is_set(&error);
    dbus_error_free(&error);
    return ok;
}

void handle(DBusConnection *connection, DBusMessage *message, const Options &o, std::ofstream &record,
            dbus_uint32_t &lastId)
{
    if (dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_METHOD_CALL)
        return;
    const char *member = dbus_message_get_member(message);
    std::string line = member ? member : "";
    const bool notify = line == "Notify";
    if (notify) {
        // Notify (susssasa{sv}i): the summary is the fourth value.
        DBusMessageIter args;
        if (dbus_message_iter_init(message, &args)) {
            int skipped = 0;
            while (skipped < 3 && dbus_message_iter_next(&args))
                ++skipped;
            if (dbus_message_iter_get_arg_type(&args) == DBUS_TYPE_STRING) {
                const char *summary = nullptr;
                dbus_message_iter_get_basic(&args, &summary);
                line += '\t';
                line += summary;
            }
        }
    }
    if (record.is_open())
        record << line << '\n' << std::flush;
    if (notify && o.answerNotify && !dbus_message_get_no_reply(message)) {
        DBusMessage *reply = dbus_message_new_method_return(message);
        const dbus_uint32_t id = ++lastId;
        dbus_message_append_args(reply, DBUS_TYPE_UINT32, &id, DBUS_TYPE_INVALID);
        dbus_connection_send(connection, reply, nullptr);
        dbus_message_unref(reply);
    }
}

int hold(const Options &o)
{
    DBusConnection *connection = connect(o);
    // Closed and freed on every way out, also after its bus went away.
    const std::unique_ptr<DBusConnection, void (*)(DBusConnection *)> owner(connection, [](DBusConnection *c) {
        dbus_connection_close(c);
        dbus_connection_unref(c);
    });
    std::ofstream record;
    if (!o.record.empty())
        record.open(o.record, std::ios::app);
    std::cout << "ready " << dbus_bus_get_unique_name(connection) << std::endl;

    int fd = -1;
    if (!dbus_connection_get_unix_fd(connection, &fd))
        die("no socket");
    dbus_uint32_t lastId = 0;
    std::string input;
    for (;;) {
        // Messages read while flushing wait in the queue: drain it first.
        while (DBusMessage *message = dbus_connection_pop_message(connection)) {
            handle(connection, message, o, record, lastId);
            dbus_message_unref(message);
        }
        dbus_connection_flush(connection);
        if (!dbus_connection_get_is_connected(connection))
            return 1;

        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {fd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            dbus_connection_read_write(connection, 0);
        if (fds[0].revents) {
            char buffer[65536];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n <= 0)
                return 0;
            input.append(buffer, static_cast<size_t>(n));
            size_t end;
            while ((end = input.find('\n')) != std::string::npos) {
                const std::vector<std::string> f = split(input.substr(0, end), '\t');
                input.erase(0, end + 1);
                bool ok = false;
                if (!f.empty() && f[0] == "emit") {
                    ok = emit(connection, f);
                } else if (!f.empty() && f[0] == "release" && !o.name.empty()) {
                    DBusError error;
                    dbus_error_init(&error);
                    ok = dbus_bus_release_name(connection, o.name.c_str(), &error) == DBUS_RELEASE_NAME_REPLY_RELEASED;
                    dbus_error_free(&error);
                }
                std::cout << (ok ? "ok" : "error") << std::endl;
            }
        }
    }
}

std::string jsonText(const std::string &s)
{
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// The payload number i; sets summary when it is a notice this user must see.
std::string payload(long i, const Options &o, std::string &summary)
{
    const std::string pad = o.size > 0 ? std::string(static_cast<size_t>(o.size), 'x') : std::string();
    const std::string name = o.tag + " " + std::to_string(i);
    if (i % o.mineEvery == 0) {
        // Install, update and new-version notices name the app in the summary.
        static const int opts[] = {1, 3, 7};
        const int opt = opts[(i / o.mineEvery) % 3];
        static const char *const forms[] = {"\"%\" installed successfully", "\"%\" updated successfully",
                                            "\"%\" new version available"};
        summary = forms[(i / o.mineEvery) % 3];
        summary.replace(summary.find('%'), 1, name);
        return "{\"opt\":" + std::to_string(opt) + ",\"appName\":" + jsonText(name) + ",\"packageName\":\"pkg"
            + std::to_string(i) + "\",\"logname\":" + jsonText(o.user) + ",\"pad\":\"" + pad + "\"}";
    }
    summary.clear();
    switch (i % 12) {
    case 0:
    case 1:
        return "{\"opt\":1,\"appName\":" + jsonText(name) + ",\"logname\":\"other-" + std::to_string(i % 7)
            + "\",\"pad\":\"" + pad + "\"}";
    case 2:
        return "{\"opt\":1,\"appName\":" + jsonText(name) + ",\"logname\":" + jsonText(o.user) + pad;
    case 3:
        return "[{\"opt\":1,\"appName\":" + jsonText(name) + ",\"logname\":" + jsonText(o.user) + "}," + jsonText(pad)
            + "]";
    case 4:
        return "not json " + pad;
    case 5:
        return "{\"opt\":\"1\",\"appName\":{\"x\":[1,2,3]},\"logname\":[" + jsonText(o.user) + "],\"pad\":\"" + pad
            + "\"}";
    case 6:
        return std::string(2000, '[') + std::string(2000, ']');
    case 7:
        return "";
    case 8:
        return "{\"opt\":1e308,\"appName\":\"\\u0000\\ud800\xe2\x80\xae\",\"logname\":\"" + o.user + " \",\"pad\":\""
            + pad + "\"}";
    case 9:
        return "{\"opt\":0,\"logname\":" + jsonText(o.user) + ",\"pad\":\"" + pad + "\"}";
    case 10:
        return "null";
    default:
        return "{\"opt\":3,\"appName\":" + jsonText(name) + ",\"pad\":\"" + pad + "\"}";
    }
}

int flood(const Options &o)
{
    if (o.user.empty() || o.rate <= 0 || o.mineEvery <= 0)
        die("flood needs --user, a positive --rate and --mine-every");
    DBusConnection *connection = connect(o);
    std::ofstream expect;
    if (!o.expect.empty())
        expect.open(o.expect, std::ios::trunc);

    if (o.upgradeListFirst) {
        DBusMessage *message = dbus_message_new_signal(kDaemonPath, kDaemonInterface, "sigLocalAppsUpgradeNotify");
        const std::string info = "{\"package_name\":\"burst\",\"name\":\"Burst\"}";
        const char *text = info.c_str();
        DBusMessageIter args;
        DBusMessageIter list;
        dbus_message_iter_init_append(message, &args);
        if (!dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "s", &list)
            || !dbus_message_iter_append_basic(&list, DBUS_TYPE_STRING, &text)
            || !dbus_message_iter_close_container(&args, &list) || !dbus_connection_send(connection, message, nullptr))
            die("out of memory");
        dbus_message_unref(message);
        dbus_connection_flush(connection);
    }

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const long total = static_cast<long>(o.rate * o.seconds);
    long sent = 0;
    long mine = 0;
    long bytes = 0;
    std::string summary;
    while (sent < total) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const long due = std::min(total, static_cast<long>(elapsed * o.rate) + 1);
        if (sent >= due) {
            std::this_thread::sleep_for(std::chrono::microseconds(500));
            continue;
        }
        for (; sent < due; ++sent) {
            DBusMessage *message = dbus_message_new_signal(kDaemonPath, kDaemonInterface, "sigSystemNotificationSent");
            const std::string text = payload(sent, o, summary);
            if (sent % 97 == 5) {
                // Right member, wrong argument type: never reaches the slot.
                const dbus_int32_t number = static_cast<dbus_int32_t>(sent);
                dbus_message_append_args(message, DBUS_TYPE_INT32, &number, DBUS_TYPE_INVALID);
                summary.clear();
            } else {
                const char *p = text.c_str();
                dbus_message_append_args(message, DBUS_TYPE_STRING, &p, DBUS_TYPE_INVALID);
            }
            if (!dbus_connection_send(connection, message, nullptr))
                die("out of memory");
            dbus_message_unref(message);
            bytes += static_cast<long>(text.size());
            if (!summary.empty()) {
                ++mine;
                if (expect.is_open())
                    expect << summary << '\n';
            }
        }
        dbus_connection_flush(connection);
        if (!dbus_connection_get_is_connected(connection))
            die("disconnected by the bus after " + std::to_string(sent) + " signals");
    }
    dbus_connection_flush(connection);
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    std::cout << "sent " << sent << " signals (" << mine << " for the user, " << bytes << " payload bytes) in " << took
              << " s" << std::endl;
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        die("usage: fault-peer hold|flood [options]");
    const std::string mode = argv[1];
    const Options o = parse(argc, argv);
    if (mode == "hold")
        return hold(o);
    if (mode == "flood")
        return flood(o);
    die("unknown mode " + mode);
}
