// queno_log publishing to a real broker: Debian's mosquitto, started by the test on 127.0.0.1 and
// a free port with its own configuration, and a subscriber that counts what arrives. Every row
// once and in order; a broker stopped for 5 s loses nothing; a spool too small for an outage
// drops an exact, reported number; TLS with a password file lets the right user in only.
#include <mosquitto.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "process_runner.h"

namespace {

int freePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLength = sizeof(address);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &nLength) != 0) {
        close(fd);
        return -1;
    }
    close(fd);
    return ntohs(address.sin_port);
}

bool accepting(int nPort) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(nPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool bOk = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return bOk;
}

bool run(const std::string& sCommand) { return system((sCommand + " > /dev/null 2>&1").c_str()) == 0; }

// A broker of the test's own. As root, mosquitto would switch to its own user unless told, and by
// default keeps only 1000 messages for a subscriber that is away.
class Broker {
public:
    explicit Broker(const TempDir& dir, const std::string& sListener = "", bool bPersistence = true)
        : dir_(dir), nPort_(freePort()) {
        std::ofstream(dir.file("mosquitto.conf"))
            << "listener " << nPort_ << " 127.0.0.1\n"
            << (sListener.empty() ? "allow_anonymous true\n" : sListener) << "user root\n"
            << "persistence " << (bPersistence ? "true" : "false") << "\npersistence_location " << dir.path() << "/\n"
            << "max_queued_messages 0\nlog_dest file " << dir.file("broker.log") << "\n";
        start();
    }
    ~Broker() { stop(); }
    int port() const { return nPort_; }
    void start() {
        pid_ = fork();
        if (pid_ == 0) {
            execl(QUENO_MOSQUITTO_PATH, "mosquitto", "-c", dir_.file("mosquitto.conf").c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 100 && !accepting(nPort_); ++i) usleep(50000);  // a guard, not a measurement
    }
    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    const TempDir& dir_;
    int nPort_;
    pid_t pid_ = -1;
};

// A subscriber with a session the broker keeps across its restart, at QoS 1.
class Subscriber {
public:
    Subscriber(int nPort, const std::string& sTopic, const std::string& sCaFile = "", const std::string& sUser = "",
               const std::string& sPassword = "") {
        mosquitto_lib_init();
        pMosq_ = mosquitto_new(("test-subscriber-" + std::to_string(getpid())).c_str(), false, this);
        if (!sCaFile.empty()) mosquitto_tls_set(pMosq_, sCaFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (!sUser.empty()) mosquitto_username_pw_set(pMosq_, sUser.c_str(), sPassword.c_str());
        mosquitto_reconnect_delay_set(pMosq_, 1, 1, false);
        mosquitto_connect_callback_set(pMosq_, [](mosquitto* p, void* pSelf, int nResult) {
            if (nResult == 0) mosquitto_subscribe(p, nullptr, static_cast<Subscriber*>(pSelf)->sTopic_.c_str(), 1);
        });
        mosquitto_subscribe_callback_set(pMosq_, [](mosquitto*, void* pSelf, int, int, const int*) {
            static_cast<Subscriber*>(pSelf)->bSubscribed_ = true;
        });
        mosquitto_message_callback_set(pMosq_, [](mosquitto*, void* pSelf, const mosquitto_message* pMessage) {
            auto* self = static_cast<Subscriber*>(pSelf);
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->messages_.emplace_back(static_cast<const char*>(pMessage->payload), static_cast<size_t>(pMessage->payloadlen));
        });
        sTopic_ = sTopic;
        mosquitto_connect(pMosq_, "127.0.0.1", nPort, 30);
        mosquitto_loop_start(pMosq_);
        for (int i = 0; i < 100 && !bSubscribed_; ++i) usleep(50000);
    }
    ~Subscriber() {
        mosquitto_disconnect(pMosq_);
        mosquitto_loop_stop(pMosq_, false);
        mosquitto_destroy(pMosq_);
    }
    bool subscribed() const { return bSubscribed_; }
    std::vector<std::string> messages() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    // Waits until a message containing sPart arrived or the guard time ran out.
    bool waitForMessage(const std::string& sPart) {
        for (int i = 0; i < 200; ++i) {
            for (const std::string& s : messages()) {
                if (s.find(sPart) != std::string::npos) return true;
            }
            usleep(50000);
        }
        return false;
    }
    // The scan numbers of the rows received, in order of arrival.
    std::vector<long long> scans() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<long long> scans;
        for (const std::string& s : messages_) {
            size_t n = s.find("\"scan\":");
            if (n != std::string::npos) scans.push_back(atoll(s.c_str() + n + 7));
        }
        return scans;
    }
    // Waits until nCount rows arrived or the guard time ran out.
    void waitFor(size_t nCount) {
        for (int i = 0; i < 200 && scans().size() < nCount; ++i) usleep(50000);
    }

private:
    mosquitto* pMosq_;
    std::string sTopic_;
    std::atomic<bool> bSubscribed_{false};
    std::mutex mutex_;
    std::vector<std::string> messages_;
};

RunOptions logger(std::vector<std::string> args) {
    RunOptions options;
    options.sExecutable = QUENO_LOG_PATH;
    options.args = {"AI0:rtd", "-q", "-o", "none"};
    options.args.insert(options.args.end(), args.begin(), args.end());
    return options;
}

// Repeats dropped (at least once), the rest in ascending order.
std::vector<long long> distinctInOrder(const std::vector<long long>& scans, bool* pbOrdered) {
    std::vector<long long> distinct;
    std::set<long long> seen;
    *pbOrdered = true;
    for (long long n : scans) {
        if (!seen.insert(n).second) continue;
        if (!distinct.empty() && n < distinct.back()) *pbOrdered = false;
        distinct.push_back(n);
    }
    return distinct;
}

TEST(LoggerMqtt, EveryRowOnceAndInOrder) {
    TempDir dir;
    Broker broker(dir);
    Subscriber subscriber(broker.port(), "t/rows");
    ASSERT_TRUE(subscriber.subscribed());
    RunResult r = runExample(logger({"-n", "3000", "--average", "10", "--mqtt", "mqtt://127.0.0.1:" + std::to_string(broker.port()),
                                     "--topic", "t/rows"}));
    EXPECT_EQ(r.nExitStatus, 0) << r.sErr;
    subscriber.waitFor(300);
    std::vector<long long> expected;
    for (long long n = 0; n < 3000; n += 10) expected.push_back(n);
    EXPECT_EQ(subscriber.scans(), expected);
}

// The broker goes away for 5 s (nOutageSeconds) while rows come at 100 a second.
// The file beside it loses nothing however many rows the broker misses.
void runThroughAnOutage(const std::vector<std::string>& extra, int nExpectedStatus, bool bExpectDrops) {
    TempDir dir;
    Broker broker(dir);
    Subscriber subscriber(broker.port(), "t/outage");
    ASSERT_TRUE(subscriber.subscribed());
    std::vector<std::string> args = {"-d", "9s", "--average", "10", "--mqtt", "mqtt://127.0.0.1:" + std::to_string(broker.port()),
                                     "--topic", "t/outage", "-o", dir.file("log.csv")};
    args.insert(args.end(), extra.begin(), extra.end());
    RunOptions options = logger(args);
    ExampleProcess process(options);
    sleep(2);
    broker.stop();
    sleep(5);
    broker.start();
    RunResult r = process.finish();
    EXPECT_EQ(r.nExitStatus, nExpectedStatus) << r.sErr;
    uint64_t nDropped = 0;
    size_t nAt = r.sErr.find(" dropped");
    if (nAt != std::string::npos) nDropped = strtoull(r.sErr.c_str() + r.sErr.rfind(' ', r.sErr.rfind(" row", nAt) - 1) + 1, nullptr, 10);
    const uint64_t nRows = 900;
    subscriber.waitFor(static_cast<size_t>(nRows - nDropped));
    bool bOrdered = false;
    std::vector<long long> distinct = distinctInOrder(subscriber.scans(), &bOrdered);
    EXPECT_TRUE(bOrdered);
    EXPECT_EQ(distinct.size() + nDropped, nRows) << r.sErr;
    EXPECT_EQ(nDropped > 0, bExpectDrops) << r.sErr;
    std::vector<std::string> lines = readLines(dir.file("log.csv"));
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find(": 9000 scans, 0 gaps, 0 scans lost"), std::string::npos) << lines.back();
    EXPECT_NE(r.sErr.find("queno_log: MQTT: broker lost at "), std::string::npos) << r.sErr;
    EXPECT_NE(r.sErr.find("queno_log: MQTT: broker back after "), std::string::npos) << r.sErr;
}

TEST(LoggerMqtt, BrokerAwayForFiveSecondsLosesNothing) { runThroughAnOutage({}, 0, false); }

TEST(LoggerMqtt, SpoolTooSmallForTheOutageDropsAnExactCount) { runThroughAnOutage({"--spool", "50"}, 3, true); }

// What a dashboard relies on: the retained meta and status are there after a broker restart that
// forgot them, "offline" follows a clean end, and the broker says it for a logger killed outright.
TEST(LoggerMqtt, MetaAndStatusSurviveABrokerRestartAndTheEnd) {
    TempDir dir;
    Broker broker(dir, "", false);
    const std::string sUrl = "mqtt://127.0.0.1:" + std::to_string(broker.port());
    ExampleProcess process(logger({"-d", "5s", "--average", "100", "--mqtt", sUrl, "--topic", "t/m"}));
    sleep(1);
    broker.stop();
    broker.start();
    {
        Subscriber late(broker.port(), "t/m/+");
        EXPECT_TRUE(late.waitForMessage("{\"board\":0,")) << "meta";
        EXPECT_TRUE(late.waitForMessage("online"));
    }
    RunResult r = process.finish();
    EXPECT_EQ(r.nExitStatus, 0) << r.sErr;
    {
        Subscriber after(broker.port(), "t/m/status");
        EXPECT_TRUE(after.waitForMessage("offline"));
    }
    ExampleProcess killed(logger({"--mqtt", sUrl, "--topic", "t/k"}));
    {
        Subscriber watcher(broker.port(), "t/k/status");
        ASSERT_TRUE(watcher.waitForMessage("online"));
        killed.signal(SIGKILL);
        EXPECT_TRUE(watcher.waitForMessage("offline"));
    }
    killed.finish();
}

// A board whose AI0 is open from scan 100 to scan 199 at 1000 scans/s.
const char kOpenFromScan100[] =
    "<QuenoSimSystem><Board model='QUENO-1600-UNIV' serial='S'><Acquisition bufferScans='8192'/>"
    "<Events><Event at='100ms' channels='AI0' kind='open' duration='100ms'/></Events>"
    "<ChannelGroup kind='AI' count='2'><Mode Mode='Voltage'><Range><ID0>-10.000000..10.000000 V</ID0></Range>"
    "</Mode></ChannelGroup><BoardProperties><AcquisitionProperties><AcqProp>"
    "<SampleRate ProgMin='1' ProgMax='20000' Default='1000'/></AcqProp></AcquisitionProperties>"
    "</BoardProperties></Board></QuenoSimSystem>";

// A sample at its range's limit is no value: JSON null, and no field in the line protocol.
TEST(LoggerMqtt, AnOpenSensorIsNoValue) {
    TempDir dir;
    Broker broker(dir);
    dir.write("system.xml", kOpenFromScan100);
    for (const char* sFormat : {"json", "influx"}) {
        SCOPED_TRACE(sFormat);
        Subscriber subscriber(broker.port(), std::string("t/") + sFormat);
        ASSERT_TRUE(subscriber.subscribed());
        RunOptions options = logger({"-n", "300", "--average", "50", "--format", sFormat, "--mqtt",
                                     "mqtt://127.0.0.1:" + std::to_string(broker.port()), "--topic", std::string("t/") + sFormat});
        options.args[0] = "AI0:voltage";
        options.args.insert(options.args.begin() + 1, "AI1:voltage");
        options.env["QUENO_SIM_SYSTEM"] = dir.file("system.xml");
        RunResult r = runExample(options);
        EXPECT_EQ(r.nExitStatus, 0) << r.sErr;
        for (int i = 0; i < 100 && subscriber.messages().size() < 6; ++i) usleep(50000);
        std::vector<std::string> rows = subscriber.messages();
        ASSERT_EQ(rows.size(), 6u);
        for (size_t n = 0; n < rows.size(); ++n) {
            const bool bOpen = n == 2 || n == 3;  // the means of scans 100..149 and 150..199
            if (std::string(sFormat) == "json") {
                EXPECT_EQ(rows[n].find("\"AI0\":null,\"AI1\":") != std::string::npos, bOpen) << rows[n];
            } else {
                EXPECT_EQ(rows[n].find(",AI0=") == std::string::npos && rows[n].find(",AI1=") != std::string::npos, bOpen)
                    << rows[n];
            }
        }
    }
}

// Alarm events on the broker: each on <topic>/alarms, the channel's state retained on
// <topic>/alarm/<channel> for a dashboard that comes later.
TEST(LoggerMqtt, AlarmEventsAndTheRetainedState) {
    TempDir dir;
    Broker broker(dir);
    dir.write("system.xml", kOpenFromScan100);
    Subscriber events(broker.port(), "t/a/alarms");
    ASSERT_TRUE(events.subscribed());
    RunOptions options = logger({"-n", "300", "--mqtt", "mqtt://127.0.0.1:" + std::to_string(broker.port()), "--topic", "t/a",
                                 "--alarm", "AI0:hi=5"});
    options.args[0] = "AI0:voltage";
    options.env["QUENO_SIM_SYSTEM"] = dir.file("system.xml");
    RunResult r = runExample(options);
    EXPECT_EQ(r.nExitStatus, 0) << r.sErr;
    for (int i = 0; i < 100 && events.messages().size() < 2; ++i) usleep(50000);
    const std::vector<std::string> said = events.messages();
    ASSERT_EQ(said.size(), 2u);
    EXPECT_NE(said[0].find("{\"channel\":\"AI0\",\"state\":\"fault\",\"previous\":\"normal\",\"scan\":100,\"value\":null,"),
              std::string::npos) << said[0];
    EXPECT_NE(said[1].find("\"state\":\"normal\",\"previous\":\"fault\",\"scan\":200,"), std::string::npos) << said[1];
    Subscriber late(broker.port(), "t/a/alarm/AI0");
    EXPECT_TRUE(late.waitForMessage("{\"state\":\"normal\",\"since_scan\":200,\"since\":\""));
}

// A port that accepts and never answers, plain or TLS: a stop during the first connection ends the
// run at once with 128 + the signal, before the board is touched (without the signal thread it
// waited out the ten seconds and ended with status 1).
TEST(LoggerMqtt, AStopDuringASilentFirstConnectionIsTakenAtOnce) {
    for (const char* sScheme : {"mqtt", "mqtts"}) {
        SCOPED_TRACE(sScheme);
        int listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t nLength = sizeof(address);
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ASSERT_EQ(listen(listener, 8), 0);
        ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &nLength), 0);
        RunOptions options = logger({"--mqtt", std::string(sScheme) + "://127.0.0.1:" + std::to_string(ntohs(address.sin_port))});
        ExampleProcess process(options);
        // The reachability probe, then the client's own connection: the stop comes while it waits.
        std::vector<int> accepted;
        for (int n = 0; n < 2; ++n) {
            pollfd wait = {listener, POLLIN, 0};
            ASSERT_EQ(poll(&wait, 1, 30000), 1);
            accepted.push_back(accept(listener, nullptr, nullptr));
        }
        process.signal(SIGINT);
        RunResult r = process.finish();
        EXPECT_EQ(r.nExitStatus, 128 + SIGINT) << r.sErr;
        EXPECT_TRUE(r.trace.empty());
        for (int fd : accepted) close(fd);
        close(listener);
    }
}

TEST(LoggerMqtt, TlsAndPasswordLetOnlyTheRightUserIn) {
    TempDir dir;
    const std::string d = dir.path();
    // A CA, a server certificate for 127.0.0.1 signed by it, and a second CA nobody signed with.
    ASSERT_TRUE(run("cd " + d + " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                    "-keyout ca.key -out ca.crt -days 2 -subj /CN=test-ca"));
    ASSERT_TRUE(run("cd " + d + " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                    "-keyout other.key -out other.crt -days 2 -subj /CN=other-ca"));
    ASSERT_TRUE(run("cd " + d + " && openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key "
                    "-out server.csr -subj /CN=127.0.0.1 && printf 'subjectAltName=IP:127.0.0.1,DNS:localhost' > san.ext && "
                    "openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt -days 2 "
                    "-extfile san.ext"));
    ASSERT_TRUE(run("mosquitto_passwd -b -c " + dir.file("passwd") + " logger right-secret"));
    dir.write("right", "right-secret\n");
    dir.write("wrong", "wrong-secret\n");
    chmod(dir.file("right").c_str(), 0600);
    Broker broker(dir, "allow_anonymous false\npassword_file " + dir.file("passwd") + "\ncafile " + dir.file("ca.crt") +
                           "\ncertfile " + dir.file("server.crt") + "\nkeyfile " + dir.file("server.key") + "\n");
    Subscriber subscriber(broker.port(), "t/tls", dir.file("ca.crt"), "logger", "right-secret");
    ASSERT_TRUE(subscriber.subscribed());
    const std::string sUrl = "mqtts://127.0.0.1:" + std::to_string(broker.port());

    RunResult wrong = runExample(logger({"-n", "100", "--mqtt", sUrl, "--topic", "t/tls", "--cafile", dir.file("ca.crt"),
                                         "--user", "logger", "--password-file", dir.file("wrong")}));
    EXPECT_EQ(wrong.nExitStatus, 1);
    EXPECT_NE(wrong.sErr.find("queno_log: MQTT: 127.0.0.1:" + std::to_string(broker.port()) + " refused the connection"),
              std::string::npos)
        << wrong.sErr;
    EXPECT_TRUE(wrong.trace.empty());  // the board was never touched
    EXPECT_NE(wrong.sErr.find("warning: the password file " + dir.file("wrong") + " can be read by others"), std::string::npos);
    RunResult folder = runExample(logger({"-n", "10", "--mqtt", sUrl, "--user", "logger", "--password-file", d}));
    EXPECT_EQ(folder.nExitStatus, 1);
    EXPECT_NE(folder.sErr.find("the password file " + d + " is a directory"), std::string::npos) << folder.sErr;

    RunResult unknownCa = runExample(logger({"-n", "100", "--mqtt", sUrl, "--topic", "t/tls", "--cafile",
                                             dir.file("other.crt"), "--user", "logger", "--password-file", dir.file("right")}));
    EXPECT_EQ(unknownCa.nExitStatus, 1);
    EXPECT_NE(unknownCa.sErr.find("--cafile"), std::string::npos) << unknownCa.sErr;

    RunResult right = runExample(logger({"-n", "100", "--average", "10", "--mqtt", sUrl, "--topic", "t/tls", "--cafile",
                                         dir.file("ca.crt"), "--user", "logger", "--password-file", dir.file("right")}));
    EXPECT_EQ(right.nExitStatus, 0) << right.sErr;
    subscriber.waitFor(10);
    EXPECT_EQ(subscriber.scans().size(), 10u);  // only the right user's rows

    // Without --cafile the system's CAs are trusted; here the test's CA is the system's.
    ASSERT_TRUE(run("mkdir " + d + "/system-cas && cp " + d + "/ca.crt " + d + "/system-cas/ && openssl rehash " + d +
                    "/system-cas"));
    RunOptions systemCas = logger({"-n", "100", "--average", "10", "--mqtt", sUrl, "--topic", "t/tls", "--user", "logger",
                                   "--password-file", dir.file("right")});
    systemCas.env["SSL_CERT_DIR"] = d + "/system-cas";
    RunResult trusted = runExample(systemCas);
    EXPECT_EQ(trusted.nExitStatus, 0) << trusted.sErr;
    subscriber.waitFor(20);
    EXPECT_EQ(subscriber.scans().size(), 20u);

    // A port where nothing listens is said at once for what it is.
    RunResult refused = runExample(logger({"-n", "10", "--mqtt", "mqtts://127.0.0.1:1", "--cafile", dir.file("ca.crt")}));
    EXPECT_EQ(refused.nExitStatus, 1);
    EXPECT_NE(refused.sErr.find("cannot connect to 127.0.0.1:1: Connection refused\n"), std::string::npos) << refused.sErr;

    RunResult plain = runExample(logger({"-n", "10", "--mqtt", "mqtt://127.0.0.1:1", "--cafile", dir.file("ca.crt")}));
    EXPECT_EQ(plain.nExitStatus, 2);
    EXPECT_NE(plain.sErr.find("--cafile, --cert and --key need TLS"), std::string::npos) << plain.sErr;
}

}  // namespace
