// The documented chunked encode, spread over two ssh logins for real: an sshd
// of the test's own on loopback (127.0.0.1 and 127.0.0.2, a free port, a
// throwaway host key and user key, nothing of the machine's ssh set-up
// touched), examples/chunked-encode.sh on an H.264 film through FFMS2, and
// the joined chunks held to one whole run.
//
// Where sshd cannot start, the test is skipped and says why, also in the
// file named by CLIPSPOUT_TEST_SKIP_LOG, which scripts/test.sh shows.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include "harness.h"

namespace {

const char* const ssh_options = "-o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o BatchMode=yes "
                                "-o LogLevel=ERROR";

int free_loopback_port()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

// The jobs' working folders under ~/.parallel/tmp, on this machine and on
// the logins alike (they share the home). Other runs may have left theirs,
// so each test holds the folders to what was there before it; the tests of
// this binary take turns (RESOURCE_LOCK), so no other run's live folder
// shows.
std::set<std::string> working_folders()
{
    std::set<std::string> names;
    std::istringstream listing(shell("ls ~/.parallel/tmp 2>/dev/null"));
    for (std::string name; std::getline(listing, name);)
        if (name != "sshlogin")
            names.insert(name);
    return names;
}

class SshChunks : public testing::Test {
protected:
    std::string folder;
    int port = -1;
    pid_t sshd = 0;
    std::set<std::string> folders_before = working_folders();

    // examples/chunked-encode.sh SCRIPT ARGUMENTS through the frame server
    // in the folder frameserver, with this test's ssh key and port and the
    // settings (VARIABLE='VALUE' ...); returns what it printed.
    std::string chunked_encode(const std::string& frameserver, const std::string& settings,
                               const std::string& script, const std::string& arguments, int* status)
    {
        return shell("CLIPSPOUT='" + std::string(CLIPSPOUT_TOOL) + "' AVISYNTH_LIBRARY_PATH='" + frameserver +
                         "' PARALLEL_SSH='ssh -p " + std::to_string(port) + " -i " + folder + "/user_key " +
                         ssh_options + "' " + settings + " '" + std::string(TEST_SOURCE_DIR) +
                         "/examples/chunked-encode.sh' '" + script + "' " + arguments + " 2>&1",
                     status);
    }

    void skip_loudly(const std::string& why)
    {
        const char* log = getenv("CLIPSPOUT_TEST_SKIP_LOG");
        if (log && *log)
            std::ofstream(log, std::ios::app) << "the ssh chunk test: " << why << "\n";
        GTEST_SKIP() << why;
    }

    void SetUp() override
    {
        if (real_frameserver().empty() || !getenv("CLIPSPOUT_TEST_FFMS2"))
            GTEST_SKIP() << "no real frame server or no FFMS2 plugin";
        if (access("/usr/sbin/sshd", X_OK) != 0)
            return skip_loudly("no /usr/sbin/sshd (Debian's openssh-server)");
        // A folder of each test's own: each has its own keys and sshd.
        folder = write_script(std::string("ssh-") + testing::UnitTest::GetInstance()->current_test_info()->name() +
                                  "/x",
                              "");
        folder.erase(folder.rfind('/'));
        port = free_loopback_port();
        std::ofstream(folder + "/sshd_config")
            << "Port " << port << "\nListenAddress 127.0.0.1\nListenAddress 127.0.0.2\n"
            << "HostKey " << folder << "/host_key\nPidFile " << folder << "/sshd.pid\n"
            << "AuthorizedKeysFile " << folder << "/user_key.pub\n"
            << "PasswordAuthentication no\nKbdInteractiveAuthentication no\nPubkeyAuthentication yes\n"
            << "PermitRootLogin prohibit-password\nStrictModes no\nUsePAM no\n";
        int status = -1;
        // sshd wants its privilege separation folder, as its service makes it.
        std::string log = shell("mkdir -p /run/sshd 2>&1; ssh-keygen -q -t ed25519 -N '' -f '" + folder +
                                    "/host_key' && ssh-keygen -q -t ed25519 -N '' -f '" + folder + "/user_key' && " +
                                    "/usr/sbin/sshd -f '" + folder + "/sshd_config' -E '" + folder + "/sshd.log' 2>&1",
                                &status);
        for (int i = 0; i < 50 && status == 0 && read_file(folder + "/sshd.pid").empty(); ++i)
            usleep(100000);
        sshd = static_cast<pid_t>(atol(read_file(folder + "/sshd.pid").c_str()));
        if (status != 0 || sshd <= 0)
            return skip_loudly("sshd did not start: " + log + read_file(folder + "/sshd.log"));
    }

    void TearDown() override
    {
        // Only the sshd this test started, by its own pid.
        if (sshd > 0) {
            kill(sshd, SIGTERM);
            for (int i = 0; i < 50 && kill(sshd, 0) == 0; ++i)
                usleep(100000);
        }
    }
};

}  // namespace

TEST_F(SshChunks, ReadmeRecipeOverTwoLoginsJoinsUpToTheWholeRun)
{
    // The film and its script in a folder of their own; the script names the
    // film relatively, so that it travels with it.
    std::string films = folder + "/films";
    int status = -1;
    std::string log = shell("mkdir -p '" + films + "' && ffmpeg -v error -y -f lavfi -i testsrc2=size=96x64:rate=25:"
                                "duration=3 -pix_fmt yuv420p -c:v libx264 -preset ultrafast -bf 3 -g 24 '" + films +
                                "/film.mp4' 2>&1",
                            &status);
    ASSERT_EQ(status, 0) << log;
    std::ofstream(films + "/film.avs") << "LoadPlugin(\"" << getenv("CLIPSPOUT_TEST_FFMS2")
                                       << "\")\nFFVideoSource(\"film.mp4\")\n";

    // Lossless chunks, so that their decode is the frames themselves.
    run_options server;
    server.frameserver = real_frameserver();
    log = chunked_encode(real_frameserver(), "TRANSFER=film.mp4 X264_OPTIONS='--qp 0 --preset ultrafast'",
                         films + "/film.avs", "4 1/127.0.0.1,1/127.0.0.2", &status);
    ASSERT_EQ(status, 0) << log;

    // Every chunk came back through ssh, and both logins took some.
    std::set<std::string> servers;
    for (int n = 1; n <= 4; ++n) {
        std::string chunk_log = read_file(films + "/chunk" + std::to_string(n) + ".log");
        size_t at = chunk_log.find(", ssh ");
        ASSERT_NE(at, std::string::npos) << "chunk " << n << " did not run through ssh: " << chunk_log;
        std::istringstream words(chunk_log.substr(at + 6));
        std::string client, client_port, server_address;
        words >> client >> client_port >> server_address;
        servers.insert(server_address);
        EXPECT_NE(chunk_log.find("encoded"), std::string::npos) << chunk_log;
    }
    EXPECT_EQ(servers, (std::set<std::string>{"127.0.0.1", "127.0.0.2"}));

    // The joined chunks decode to exactly the frames of one whole run.
    std::string joined = shell("ffmpeg -v error -i '" + films + "/film.264' -f rawvideo -pix_fmt yuv420p -");
    run_result whole = run_tool({"video", films + "/film.avs"}, server);
    ASSERT_EQ(whole.status, 0) << whole.err;
    std::string frames;
    size_t header_end = whole.out.find('\n') + 1;
    const size_t frame = 96 * 64 * 3 / 2;
    for (size_t at = header_end; at + 6 + frame <= whole.out.size(); at += 6 + frame)
        frames.append(whole.out, at + 6, frame);
    EXPECT_EQ(frames.size(), 75 * frame);
    EXPECT_TRUE(joined == frames) << "the joined chunks differ from one whole run";
    EXPECT_EQ(shell("ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 '" + films +
                    "/film.264'"),
              "75\n");
    // Nothing of the jobs' working folders (the film, its index) is left.
    EXPECT_EQ(working_folders(), folders_before);
}

// This machine in the login list (":"), beside an ssh login: its chunks run
// in the script's folder, where GNU parallel would give them an empty one.
TEST_F(SshChunks, ThisMachineBesideAnSshLogin)
{
    std::string films = folder + "/mixed";
    int status = -1;
    std::string log = shell("mkdir -p '" + films + "'", &status);
    std::ofstream(films + "/film.avs") << "BlankClip(length=40, width=64, height=48, pixel_type=\"YV12\", fps=25)\n";
    log = chunked_encode(build_folder(STANDIN), "X264_OPTIONS='--qp 0 --preset ultrafast'", films + "/film.avs",
                         "4 1/:,1/127.0.0.1", &status);
    ASSERT_EQ(status, 0) << log;
    int here = 0, over_ssh = 0;
    for (int n = 1; n <= 4; ++n) {
        const std::string chunk_log = read_file(films + "/chunk" + std::to_string(n) + ".log");
        EXPECT_NE(chunk_log.find("encoded"), std::string::npos) << chunk_log;
        (chunk_log.find(", ssh ") == std::string::npos ? here : over_ssh) += 1;
    }
    EXPECT_GT(here, 0);
    EXPECT_GT(over_ssh, 0);
    EXPECT_EQ(shell("ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 '" + films +
                    "/film.264'"),
              "40\n");
    // GNU parallel cleans no working folder of a job on this machine.
    EXPECT_EQ(working_folders(), folders_before);
}

// A chunk that fails over ssh halts the run: the job still running on the
// other login is stopped before --cleanup could remove its folder, and
// nothing is joined.
TEST_F(SshChunks, AFailedChunkStopsTheOthersAndLeavesNoWorkingFolder)
{
    std::string films = folder + "/failing";
    int status = -1;
    shell("mkdir -p '" + films + "'", &status);
    // Frame 5 fails half a second in; the second chunk (frames 20 to 39)
    // takes two seconds, so it is running when the first ends.
    std::ofstream(films + "/film.avs") << "BlankClip(length=40, width=64, height=48, pixel_type=\"YV12\", fps=25)."
                                          "StandinFault(frame=5, slow=100)\n";
    const std::string log = chunked_encode(build_folder(STANDIN), "X264_OPTIONS='--preset ultrafast'",
                                           films + "/film.avs", "2 1/127.0.0.1,1/127.0.0.2", &status);
    EXPECT_EQ(status, 2) << log;
    EXPECT_NE(log.find("chunk 1 failed"), std::string::npos) << log;
    EXPECT_NE(log.find("nothing is joined"), std::string::npos) << log;
    EXPECT_EQ(log.find("could not remove"), std::string::npos) << log;
    EXPECT_NE(access((films + "/film.264").c_str(), F_OK), 0) << "a failed run wrote a result";
    EXPECT_EQ(working_folders(), folders_before);
}

// On this machine alone: a result of an earlier run is not replaced unless
// asked; a failed chunk's log is kept and named, and nothing is joined; the
// chunks of an earlier run go with a line that says so.
TEST(ChunkedEncode, FailuresKeepTheLogAndWriteNoResult)
{
    if (shell("command -v parallel").empty() || shell("command -v x264").empty())
        GTEST_SKIP() << "no GNU parallel or x264";
    const std::string script = write_script("chunked/film.avs", "BlankClip(length=40, width=64, height=48, "
                                                                "pixel_type=\"YV12\", fps=25)\n");
    const std::string films = script.substr(0, script.rfind('/'));
    const std::string run = "CLIPSPOUT='" + std::string(CLIPSPOUT_TOOL) + "' AVISYNTH_LIBRARY_PATH='" +
                            build_folder(STANDIN) + "' '" + std::string(TEST_SOURCE_DIR) +
                            "/examples/chunked-encode.sh' '" + script + "' 4 2/: 2>&1";
    int status = -1;
    std::ofstream(films + "/film.264") << "an earlier result";
    std::string log = shell("X264_OPTIONS='--preset ultrafast' " + run, &status);
    EXPECT_EQ(status, 2) << log;
    EXPECT_NE(log.find("film.264 exists: move it away, or set OVERWRITE=1"), std::string::npos) << log;
    EXPECT_EQ(read_file(films + "/film.264"), "an earlier result");

    log = shell("OVERWRITE=1 X264_OPTIONS='--no-such-option' " + run, &status);
    EXPECT_EQ(status, 2) << log;
    EXPECT_NE(log.find("nothing is joined; the logs that came back, in " + films + ": chunk"), std::string::npos)
        << log;
    EXPECT_NE(log.find("x264: unrecognized option '--no-such-option'"), std::string::npos) << log;
    EXPECT_EQ(read_file(films + "/film.264"), "an earlier result") << "a failed run replaced the result";

    log = shell("OVERWRITE=1 X264_OPTIONS='--preset ultrafast' " + run, &status);
    EXPECT_EQ(status, 0) << log;
    EXPECT_NE(log.find("removing the chunks of an earlier run in " + films + ": chunk"), std::string::npos) << log;
    EXPECT_NE(log.find("replacing " + films + "/film.264 (OVERWRITE=1)"), std::string::npos) << log;
    EXPECT_EQ(shell("ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 '" + films +
                    "/film.264'"),
              "40\n");
}
