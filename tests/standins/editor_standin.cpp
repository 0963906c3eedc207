// The editor's part in a share, played over the session bus: starts (or finds) the
// share destination, sends the make command, reads where the new asset's files go,
// renders the movie there with ffmpeg (a given file copied, or a test pattern), writes
// the FCPXML description and sends open-documents with both files as bookmarks.
//
//   quorvane_editor_standin [options]
//     --interaction N     interaction level of the make command (default 0x20); "none"
//                         sends no level at all
//     --name TEXT         the asset's name (default "Untitled Project")
//     --name-bytes N      a name of N bytes instead
//     --metadata-bytes N  add a metadata value of N bytes
//     --no-class          a make command without an object class
//     --make-only         stop after the make command
//     --make-before TEXT N  first send a make command for the name TEXT at interaction
//                         level N (its answer is printed as "first asset ...")
//     --link-files M X    put links to M and X at the asset's movie and description
//                         paths instead of writing files there, and hand those over
//     --stay SECONDS      stay on the bus this long after the last command
//     --movie FILE        copy FILE as the movie instead of rendering a pattern
//     --rate R            pattern frame rate, "30000/1001" (default) or a whole number
//     --seconds S         pattern duration (default 10)
//     --start TC          pattern start timecode (default "00:00:00:00")
//     --size WxH          pattern size (default 320x180)
//     --no-fcpxml         share the movie only
//     --swap-after-open P once open-documents is answered, move P (a file, a link or a
//                         folder) to the movie's path in its place
//     --tc-start SECONDS  the sequence's "tcStart" (default 0)
//     --drop-frame        "tcFormat" "DF" (else "NDF")
//     --open FILE         send open-documents for FILE only (repeatable), no make
//     --item CODE TEXT    add an item of type CODE holding TEXT to that open-documents
//                         (repeatable; "\n" in TEXT is a line feed)
//     --big-item BYTES    add a bookmark padded to BYTES bytes to it
//     --doc-form CODE     name the asset's document by form CODE ("none": no form) when
//                         reading the asset's properties
//     --call METHOD       send METHOD with the make command's parameters, no more
//     --timeout SECONDS   how long each command may take (default 120)
//     --wait SECONDS      wait this long after starting before the first command
//     --wait-until SECONDS  send the first command at this time of the monotonic clock
//                         (CLOCK_MONOTONIC, shared by every process of the machine)
// Prints one line per step ("asset ...", "movie <path>", "xml <path>", "opened") and
// exits 0; a script error prints "script error <number>" and exits 3, any other
// failure prints "bus error <name>" and exits 4 (bus) or 5 (rendering).
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/scripting/Bookmark.h"
#include "platform/scripting/Conversions.h"
#include "platform/scripting/dbus/ScriptingBus.h"

namespace {

namespace fs = std::filesystem;
using platform::scripting::Descriptor;
using platform::scripting::FileURL;
using platform::scripting::fourCC;

const platform::scripting::dbus::BusNames kNames{"com.oxburyworks.QuorvFCPXExporter",
                                                 "/com/oxburyworks/QuorvFCPXExporter",
                                                 "com.oxburyworks.QuorvFCPXExporter.Scripting"};

struct Options {
    std::optional<int32_t> interaction = 0x20;
    std::string name = "Untitled Project";
    size_t metadataBytes = 0;
    std::optional<std::string> swap;
    bool noClass = false;
    bool makeOnly = false;
    std::optional<std::pair<std::string, std::optional<int32_t>>> makeBefore;
    std::optional<std::pair<std::string, std::string>> linkFiles;
    double staySeconds = 0;
    std::optional<std::string> movie;
    std::string rate = "30000/1001";
    double seconds = 10;
    std::string start = "00:00:00:00";
    std::string size = "320x180";
    bool fcpxml = true;
    std::string tcStart = "0";
    bool dropFrame = false;
    std::vector<std::string> openOnly;
    std::vector<Descriptor> items;
    std::optional<std::string> docForm;
    std::optional<std::string> call;
    int timeoutMs = 120000;
    double waitSeconds = 0;
    double waitUntil = 0;
};

// "Asst" -> its code; shorter texts are padded with spaces.
platform::scripting::FourCharCode codeOf(std::string text) {
    text.resize(4, ' ');
    char code[5] = {text[0], text[1], text[2], text[3], 0};
    return fourCC(code);
}

[[noreturn]] void fail(int status, const std::string& why) {
    std::printf("failed %s\n", why.c_str());
    std::fflush(stdout);
    std::exit(status);
}

// "none" -> no level; else the number (0x.. for hexadecimal).
std::optional<int32_t> levelOf(const std::string& text) {
    return text == "none" ? std::nullopt : std::optional<int32_t>(std::stoi(text, nullptr, 0));
}

Options parse(const QStringList& args) {
    Options o;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString a = args[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) {
                fail(64, "missing value for " + a.toStdString());
            }
            return args[++i].toStdString();
        };
        if (a == "--interaction") {
            o.interaction = levelOf(value());
        } else if (a == "--make-before") {
            const std::string name = value();
            o.makeBefore.emplace(name, levelOf(value()));
        } else if (a == "--link-files") {
            const std::string movie = value();
            o.linkFiles.emplace(movie, value());
        } else if (a == "--stay") {
            o.staySeconds = std::stod(value());
        } else if (a == "--name") {
            o.name = value();
        } else if (a == "--name-bytes") {
            o.name.assign(std::stoul(value()), 'n');
        } else if (a == "--metadata-bytes") {
            o.metadataBytes = std::stoul(value());
        } else if (a == "--swap-after-open") {
            o.swap = value();
        } else if (a == "--no-class") {
            o.noClass = true;
        } else if (a == "--make-only") {
            o.makeOnly = true;
        } else if (a == "--movie") {
            o.movie = value();
        } else if (a == "--rate") {
            o.rate = value();
        } else if (a == "--seconds") {
            o.seconds = std::stod(value());
        } else if (a == "--start") {
            o.start = value();
        } else if (a == "--size") {
            o.size = value();
        } else if (a == "--no-fcpxml") {
            o.fcpxml = false;
        } else if (a == "--tc-start") {
            o.tcStart = value();
        } else if (a == "--drop-frame") {
            o.dropFrame = true;
        } else if (a == "--open") {
            o.openOnly.push_back(value());
        } else if (a == "--item") {
            const std::string code = value();
            QString text = QString::fromStdString(value());
            const QByteArray bytes = text.replace("\\n", "\n").toUtf8();
            o.items.push_back(
                Descriptor::atomic(codeOf(code), base::Data(bytes.begin(), bytes.end())));
        } else if (a == "--big-item") {
            const size_t size = std::stoul(value());
            base::Data data =
                platform::scripting::bookmark::create(FileURL::fromPath("/tmp/big.mov"));
            data.resize(std::max(size, data.size()), '#');
            o.items.push_back(
                Descriptor::atomic(platform::scripting::kTypeBookmarkData, std::move(data)));
        } else if (a == "--doc-form") {
            o.docForm = value();
        } else if (a == "--call") {
            o.call = value();
        } else if (a == "--wait") {
            o.waitSeconds = std::stod(value());
        } else if (a == "--wait-until") {
            o.waitUntil = std::stod(value());
        } else if (a == "--timeout") {
            o.timeoutMs = static_cast<int>(std::stod(value()) * 1000);
        } else {
            fail(64, "unknown option " + a.toStdString());
        }
    }
    return o;
}

Descriptor attributes(const std::optional<int32_t>& interaction) {
    Descriptor a = Descriptor::record();
    if (interaction) {
        a.setField(platform::scripting::kKeyInteractLevel, Descriptor::int32(*interaction));
    }
    return a;
}

Descriptor send(const platform::scripting::dbus::ScriptingClient& client, const QString& method,
                const Options& o, const Descriptor& parameters,
                const std::optional<int32_t>& interaction) {
    const auto reply = client.send(method, attributes(interaction), parameters, o.timeoutMs);
    if (reply.scriptError) {
        std::printf("script error %d\n", reply.scriptError->number);
        std::fflush(stdout);
        std::exit(3);
    }
    if (!reply.ok()) {
        std::printf("bus error %s\n", reply.busError.toStdString().c_str());
        fail(4, reply.busError.toStdString() + " " + reply.busErrorMessage.toStdString());
    }
    return *reply.result;
}

Descriptor send(const platform::scripting::dbus::ScriptingClient& client, const QString& method,
                const Options& o, const Descriptor& parameters) {
    return send(client, method, o, parameters, o.interaction);
}

Descriptor propertyOf(const Descriptor& object, const char (&property)[5]) {
    Descriptor specifier = Descriptor::record(platform::scripting::kTypeObjectSpecifier);
    specifier.setField(fourCC("want"), Descriptor::typeCode(fourCC("prop")));
    specifier.setField(fourCC("form"), Descriptor::enumerated(fourCC("prop")));
    specifier.setField(fourCC("seld"), Descriptor::typeCode(fourCC(property)));
    specifier.setField(fourCC("from"), object);
    Descriptor parameters = Descriptor::record();
    parameters.setField(platform::scripting::kKeyDirectObject, specifier);
    return parameters;
}

void run(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (auto& a : argv) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        fail(5, "ffmpeg failed");
    }
}

// 30000/1001 -> 1001/30000s; 25 -> 1/25s.
std::string frameDuration(const std::string& rate) {
    const auto slash = rate.find('/');
    if (slash == std::string::npos) {
        return "1/" + rate + "s";
    }
    return rate.substr(slash + 1) + "/" + rate.substr(0, slash) + "s";
}

void renderMovie(const Options& o, const std::string& path) {
    if (o.movie) {
        fs::copy_file(*o.movie, path, fs::copy_options::overwrite_existing);
        return;
    }
    const std::string seconds = std::to_string(o.seconds);
    run({"ffmpeg",  "-nostdin", "-loglevel",
         "error",   "-y",       "-f",
         "lavfi",   "-i",       "testsrc2=size=" + o.size + ":rate=" + o.rate,
         "-t",      seconds,    "-timecode",
         o.start,   "-c:v",     "mpeg4",
         "-q:v",    "8",        "-pix_fmt",
         "yuv420p", "-f",       "mov",
         "--",      path});
}

void writeDescription(const Options& o, const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE fcpxml>\n"
        << "<fcpxml version=\"1.8\">\n  <resources>\n"
        << "    <format id=\"r1\" name=\"FFVideoFormat\" frameDuration=\"" << frameDuration(o.rate)
        << "\" width=\"320\" height=\"180\"/>\n  </resources>\n"
        << "  <library>\n    <event name=\"Shares\">\n      <project name=\"" << o.name << "\">\n"
        << "        <sequence format=\"r1\" tcStart=\"" << o.tcStart << "s\" tcFormat=\""
        << (o.dropFrame ? "DF" : "NDF") << "\">\n"
        << "          <spine><gap name=\"Gap\" offset=\"0s\" duration=\"" << o.seconds
        << "s\"/></spine>\n        </sequence>\n      </project>\n    </event>\n  </library>\n"
        << "</fcpxml>\n";
    if (!out) {
        fail(5, "cannot write " + path);
    }
}

void openFiles(const platform::scripting::dbus::ScriptingClient& client, const Options& o,
               const std::vector<std::string>& paths) {
    Descriptor list = Descriptor::list();
    for (const auto& item : o.items) {
        list.append(item);
    }
    for (const auto& path : paths) {
        list.append(Descriptor::atomic(
            platform::scripting::kTypeBookmarkData,
            platform::scripting::bookmark::create(FileURL::fromPath(fs::absolute(path).string()))));
    }
    Descriptor parameters = Descriptor::record();
    parameters.setField(platform::scripting::kKeyDirectObject, list);
    send(client, "OpenDocuments", o, parameters);
    std::printf("opened\n");
}

std::optional<std::string> pathOf(const Descriptor& file) {
    const auto url = platform::scripting::urlValue(file);
    return url ? std::optional<std::string>(url->path()) : std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const Options o = parse(QCoreApplication::arguments());
    if (o.waitSeconds > 0) {
        ::usleep(static_cast<useconds_t>(o.waitSeconds * 1e6));
    }
    const platform::scripting::dbus::ScriptingClient client(QDBusConnection::sessionBus(), kNames);
    if (o.waitUntil > 0) {
        // Connected first, so the bus's own start-up is not part of the wait.
        const auto at = std::chrono::steady_clock::time_point(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(o.waitUntil)));
        std::this_thread::sleep_until(at);
    }
    if (!o.openOnly.empty() || !o.items.empty()) {
        openFiles(client, o, o.openOnly);
        return 0;
    }

    // The make command's parameters for an asset named `name`.
    const auto makeFor = [&o](const std::string& name) {
        Descriptor properties = Descriptor::record();
        properties.setField(fourCC("pnam"), Descriptor::text(name));
        platform::scripting::ScriptObject::Table metadata;
        metadata.emplace_back("com.apple.proapps.share.id", "share-1");
        metadata.emplace_back("com.apple.proapps.share.episodeNumber", int64_t{1});
        if (o.metadataBytes > 0) {
            metadata.emplace_back("com.apple.quicktime.description",
                                  std::string(o.metadataBytes, 'm'));
        }
        properties.setField(fourCC("Mtdt"),
                            platform::scripting::userDefinedRecordDescriptor(metadata));
        properties.setField(fourCC("DtOp"), platform::scripting::userDefinedRecordDescriptor({}));
        Descriptor make = Descriptor::record();
        if (!o.noClass) {
            make.setField(fourCC("kocl"), Descriptor::typeCode(fourCC("Asst")));
        }
        make.setField(fourCC("prdt"), properties);
        return make;
    };
    const Descriptor make = makeFor(o.name);
    if (o.makeBefore) {
        const Descriptor first =
            send(client, "Make", o, makeFor(o.makeBefore->first), o.makeBefore->second);
        std::printf("first asset %s\n", first.describe().c_str());
        std::fflush(stdout);
    }
    if (o.call) {
        send(client, QString::fromStdString(*o.call), o, make);
        return 0;
    }
    Descriptor asset = send(client, "Make", o, make);
    std::printf("asset %s\n", asset.describe().c_str());
    std::fflush(stdout);
    const auto stay = [&o] {
        if (o.staySeconds > 0) {
            ::usleep(static_cast<useconds_t>(o.staySeconds * 1e6));
        }
        return 0;
    };
    if (o.makeOnly) {
        return stay();
    }
    if (o.docForm) {
        Descriptor document = Descriptor::record(asset.field(fourCC("from"))->type());
        for (const auto& [keyword, value] : asset.field(fourCC("from"))->fields()) {
            if (keyword != fourCC("form")) {
                document.setField(keyword, value);
            }
        }
        if (*o.docForm != "none") {
            document.setField(fourCC("form"), Descriptor::enumerated(codeOf(*o.docForm)));
        }
        asset.setField(fourCC("from"), document);
    }

    const auto location = platform::scripting::userDefinedRecordWithDescriptor(
        send(client, "GetData", o, propertyOf(asset, "Loca")));
    const platform::scripting::ScriptObject where(location);
    std::printf("location folder=%s basename=%s\n",
                where.find("folder") ? where.find("folder")->description().c_str() : "",
                where.find("basename") ? where.find("basename")->description().c_str() : "");
    const auto movie = pathOf(send(client, "GetData", o, propertyOf(asset, "MdFl")));
    const auto description = pathOf(send(client, "GetData", o, propertyOf(asset, "DsFl")));
    if (!movie) {
        fail(5, "the asset has no movie file");
    }
    if (o.linkFiles) {
        fs::create_symlink(fs::absolute(o.linkFiles->first), *movie);
    } else {
        renderMovie(o, *movie);
    }
    std::printf("movie %s\n", movie->c_str());
    std::vector<std::string> files{*movie};
    if (o.linkFiles && description) {
        fs::create_symlink(fs::absolute(o.linkFiles->second), *description);
        files.push_back(*description);
    } else if (o.fcpxml && description) {
        writeDescription(o, *description);
        std::printf("xml %s\n", description->c_str());
        files.push_back(*description);
    }
    std::fflush(stdout);
    openFiles(client, o, files);
    if (o.swap) {
        // A folder cannot be renamed over a file: the movie goes first.
        if (fs::is_directory(fs::symlink_status(*o.swap))) {
            fs::remove(*movie);
        }
        fs::rename(*o.swap, *movie);
        std::printf("swapped\n");
    }
    return stay();
}
