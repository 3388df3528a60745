// Nothing the user has is lost: inputs are never overwritten, and a result
// file is replaced whole or not at all, whatever stops the run.
#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "io/failure.h"
#include "io/output_file.h"
#include "report/heatmap.h"
#include "support.h"

namespace {

const std::string kCase = testdata("golden/example");

// A scratch folder with the example's inputs and an earlier result.
struct Scratch {
    std::string dir = temp_case(read_file(kCase + "/sim.txt"), read_file(kCase + "/obs.txt"));
    const std::string before = "an earlier result\n";
    Scratch() { std::system(("printf '" + before.substr(0, before.size() - 1) + "\\n' > " + dir + "/r.tsv").c_str()); }
    std::string file(const char* name) const { return dir + "/" + name; }
    // Every file in the folder: no temporary one may be left behind.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        DIR* d = opendir(dir.c_str());
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.' || std::string(e->d_name).find("preassign") != std::string::npos)
                out.push_back(e->d_name);
        closedir(d);
        std::sort(out.begin(), out.end());
        return out;
    }
};

const std::vector<std::string> kFiles = {"obs.txt", "r.tsv", "sim.txt"};

TEST(Files, AResultNeverOverwritesAnInput) {
    Scratch s;
    const std::string sim = read_file(s.file("sim.txt"));
    symlink("obs.txt", s.file("obs.lnk").c_str());
    link(s.file("sim.txt").c_str(), s.file("sim.hard").c_str());
    struct Clash {
        std::vector<std::string> args;
        std::string err;
    } clashes[] = {
        {{"--table", "sim.txt"}, "--table and SIM name the same file, sim.txt"},
        {{"--heatmap", "obs.lnk"}, "--heatmap and OBS name the same file, obs.lnk"},
        {{"--table", "sim.hard"}, "--table and SIM name the same file, sim.hard"},
        {{"--optimal", "--fix", "sim.txt", "--table", "./sim.txt"}, "--table and SIM name the same file, ./sim.txt"},
        {{"--table", "r.tsv", "--heatmap", "./r.tsv"}, "--heatmap and --table name the same file, ./r.tsv"},
        {{"--table", "new.tsv", "--heatmap", "new.tsv"}, "--heatmap and --table name the same file, new.tsv"},
        {{"--posterior", "--draws", "d.txt", "--table", "d.txt"}, "--table and --draws name the same file, d.txt"},
    };
    for (const Clash& c : clashes) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"sim.txt", "obs.txt"});
        Proc p = run_binary(args, "", s.dir);
        EXPECT_EQ(p.status, 2) << c.err;
        EXPECT_EQ(p.err, "preassign: " + c.err + ": a result would overwrite it (see --help)\n");
        EXPECT_EQ(p.out, "");
    }
    EXPECT_EQ(read_file(s.file("sim.txt")), sim);
    EXPECT_EQ(read_file(s.file("obs.txt")), read_file(kCase + "/obs.txt"));
    // Empty values are slips, not names.
    for (const char* opt : {"--table", "--heatmap", "--seed", "--fix", "--draws"}) {
        Proc p = run_binary({opt, "", "sim.txt", "obs.txt"}, "", s.dir);
        EXPECT_EQ(p.status, 2) << opt;
        EXPECT_EQ(p.err, std::string("preassign: ") + opt + ": an empty value is not allowed (see --help)\n");
    }
}

TEST(Files, AFailedRunLeavesTheEarlierResult) {
    Scratch s;
    // The other output's path has a typo: nothing is run, nothing replaced.
    Proc p = run_binary({"--table", "r.tsv", "--heatmap", "/nonexistent/h.png", "sim.txt", "obs.txt"}, "", s.dir);
    EXPECT_EQ(p.status, 1);
    // Standard output full, or closed under it: the run fails at the end.
    p = run_binary({"--table", "r.tsv", "sim.txt", "obs.txt"}, "/dev/full", s.dir);
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(read_file(s.file("r.tsv")), s.before);
    // The disk fills while the picture is written (a file size limit stands
    // in for it): the error is said, and no part of a picture stays.
    // SIGXFSZ left at its default, as a user's shell has it.
    const std::string cmd = "cd " + s.dir + " && ulimit -f 2 && " + PREASSIGN_BIN +
                            " -q --heatmap r.tsv sim.txt obs.txt >/dev/null 2>err.txt";
    EXPECT_NE(std::system(cmd.c_str()), 0);
    const std::string err = read_file(s.file("err.txt"));
    EXPECT_EQ(err.substr(err.rfind('\n', err.size() - 2) + 1), "preassign: r.tsv: File too large\n");
    EXPECT_EQ(read_file(s.file("r.tsv")), s.before);
    std::remove(s.file("err.txt").c_str());
    EXPECT_EQ(s.names(), kFiles);
}

// A small structure and the files label reads, for the subcommands' writers.
void write_subcommand_inputs(const Scratch& s) {
    std::string pdb;
    int serial = 1;
    auto atom = [&](const char* name, const char* res, int num, double x, double y, double z, const char* el) {
        char line[100];
        std::snprintf(line, sizeof line, "ATOM  %5d %-4s %3s A%4d    %8.3f%8.3f%8.3f  1.00  0.00          %2s\n",
                      serial++, name, res, num, x, y, z, el);
        pdb += line;
    };
    atom("N", "ALA", 5, -1, 1, 0, "N");
    atom("CA", "ALA", 5, 0, 0, 0, "C");
    atom("C", "ALA", 5, 1, 1, 0, "C");
    atom("CB", "ALA", 5, 0, -1.5, 0, "C");
    atom("N", "LEU", 9, 4, 1, 0, "N");
    atom("CA", "LEU", 9, 5, 0, 0, "C");
    atom("C", "LEU", 9, 6, 1, 0, "C");
    atom("CB", "LEU", 9, 6, -1, 0, "C");
    atom("CG", "LEU", 9, 8, -4, 0, "C");
    atom("CD1", "LEU", 9, 10, -8, 0, "C");
    atom("CD2", "LEU", 9, 12, -6, 1, "C");
    pdb += "END\n";
    std::ofstream(s.file("s.pdb")) << pdb;
    std::ofstream(s.file("r.txt")) << "1 0.5\n2 0.9\n";
    std::ofstream(s.file("m.map")) << "peak_id\tlabel\theavy_ppm\tproton_ppm\n1\t?-?\t24.8\t0.7\n";
    std::ofstream(s.file("t.tsv")) << "peak_id\tposterior_residue_number\tposterior_probability\t"
                                      "posterior_runner_up_residue_number\tposterior_runner_up_probability\n"
                                      "1\t9\t0.97\t12\t0.03\n";
}

TEST(Files, AResultToTheRunsOwnOutputIsAppended) {
    // Each writer once to a file of its own (the reference), then to the
    // run's standard output or error, which the shell appends to a log.
    Scratch s;
    write_subcommand_inputs(s);
    const std::string bin = PREASSIGN_BIN;
    struct Case {
        std::string to_file, to_stream;  // {} stands for the result's path
    } cases[] = {
        {"-q --table {} sim.txt obs.txt", "-q --table /dev/stdout sim.txt obs.txt >> log"},
        {"-q --table {} sim.txt obs.txt", "-q --table log sim.txt obs.txt >> log"},
        {"-q --table {} sim.txt obs.txt", "-q --table /proc/self/fd/1 sim.txt obs.txt >> log"},
        {"-q --heatmap {} sim.txt obs.txt", "-q --heatmap /dev/stdout sim.txt obs.txt >> log"},
        {"predict s.pdb --site A:5 -o {}", "predict s.pdb --site A:5 -o /dev/stdout >> log"},
        {"label m.map t.tsv -o {}", "label m.map t.tsv -o /dev/stdout >> log"},
        {"label m.map t.tsv -o {}", "label m.map t.tsv -o /dev/fd/2 2>> log"},
        {"import --ratios r.txt --delay 0.01 --r2 12 -o {}", "import --ratios r.txt --delay 0.01 --r2 12 -o /dev/stdout >> log"},
    };
    for (const Case& c : cases) {
        std::string first = c.to_file;
        first.replace(first.find("{}"), 2, "ref");
        ASSERT_EQ(std::system(("cd " + s.dir + " && " + bin + " " + first + " > out.txt 2> err.txt").c_str()), 0)
            << first;
        const bool on_err = c.to_stream.find("2>>") != std::string::npos;
        // What the run printed on the stream, then the result.
        const std::string want = "PRECIOUS\n" + read_file(s.file(on_err ? "err.txt" : "out.txt")) + read_file(s.file("ref"));
        std::system(("cd " + s.dir + " && printf 'PRECIOUS\\n' > log").c_str());
        const std::string redirect = on_err ? " > /dev/null" : " 2> /dev/null";
        EXPECT_EQ(std::system(("cd " + s.dir + " && " + bin + " " + c.to_stream + redirect).c_str()), 0) << c.to_stream;
        EXPECT_EQ(read_file(s.file("log")), want) << c.to_stream;
        EXPECT_GT(read_file(s.file("ref")).size(), 10u) << first;
    }
    // With > the shell empties the file first: the run's output, then the table.
    std::system(("cd " + s.dir + " && " + bin + " -q --table ref sim.txt obs.txt > out.txt 2>/dev/null").c_str());
    std::system(("cd " + s.dir + " && " + bin + " -q --table log sim.txt obs.txt > log 2>/dev/null").c_str());
    EXPECT_EQ(read_file(s.file("log")), read_file(s.file("out.txt")) + read_file(s.file("ref")));
    // import's map has no place beside a stream: none is written, and that is said.
    const Proc p = run_binary({"import", "--ratios", "r.txt", "--delay", "0.01", "--r2", "12", "-o", "/dev/stdout"}, "",
                              s.dir);
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.err.substr(0, p.err.find('\n') + 1),
              "preassign: warning: -o /dev/stdout is no file of its own: no map is written beside it (give --map FILE)\n");
    EXPECT_NE(access("/dev/stdout.map", F_OK), 0);
    std::remove("/dev/stdout.map");
    for (const char* f : {"log", "ref", "ref.map", "out.txt", "err.txt", "s.pdb", "m.map", "t.tsv", "r.txt"})
        std::remove(s.file(f).c_str());
    EXPECT_EQ(s.names(), kFiles);
}

TEST(Files, AResultThroughALinkOrIntoAPipe) {
    Scratch s;
    write_subcommand_inputs(s);
    ASSERT_EQ(run_binary({"label", "m.map", "t.tsv", "-o", "ref"}, "", s.dir).status, 0);
    const std::string ref = read_file(s.file("ref"));
    ASSERT_GT(ref.size(), 10u);
    // A link stays a link; the file it points at gets the result.
    symlink("r.tsv", s.file("r.lnk").c_str());
    EXPECT_EQ(run_binary({"label", "m.map", "t.tsv", "-o", "r.lnk"}, "", s.dir).status, 0);
    struct stat st;
    ASSERT_EQ(lstat(s.file("r.lnk").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_file(s.file("r.tsv")), ref);
    // A named pipe is written into, not replaced by a file. Its reader is
    // open before the run (the result fits the pipe's buffer).
    ASSERT_EQ(mkfifo(s.file("p").c_str(), 0600), 0);
    const int fd = open(s.file("p").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(run_binary({"label", "m.map", "t.tsv", "-o", "p"}, "", s.dir).status, 0);
    std::string got;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) got.append(buf, size_t(n));
    close(fd);
    EXPECT_EQ(got, ref);
    ASSERT_EQ(lstat(s.file("p").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    for (const char* f : {"r.lnk", "p", "ref", "s.pdb", "m.map", "t.tsv", "r.txt"}) std::remove(s.file(f).c_str());
    EXPECT_EQ(s.names(), kFiles);
}

TEST(Files, ASignalLeavesTheEarlierResult) {
    // The full-size inputs, so that the run is still going when the signal comes.
    Scratch s;
    const std::string full = testdata("golden/full_size");
    std::system(("cp " + full + "/sim.txt " + full + "/obs.txt " + s.dir).c_str());
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t pid = fork();
        if (pid == 0) {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            if (chdir(s.dir.c_str()) != 0) _exit(126);
            execl(PREASSIGN_BIN, PREASSIGN_BIN, "--posterior", "--table", "r.tsv", "--heatmap", "h.png", "sim.txt",
                  "obs.txt", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Mid-walk: the walk takes a good part of a second.
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        kill(pid, sig);
        int ws = 0;
        waitpid(pid, &ws, 0);
        EXPECT_TRUE(WIFSIGNALED(ws) && WTERMSIG(ws) == sig) << sig;  // the shell's 128 + signal
        EXPECT_EQ(read_file(s.file("r.tsv")), s.before) << sig;
        EXPECT_EQ(s.names(), kFiles) << sig;
    }
    // A reader that stops early (| head -1): the same.
    const std::string cmd = "cd " + s.dir + " && " + PREASSIGN_BIN + " --table r.tsv sim.txt obs.txt 2>&1 | head -1";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(read_file(s.file("r.tsv")), s.before);
    EXPECT_EQ(s.names(), kFiles);
}

TEST(Files, TwoRunsAtOnceLeaveOneWholeResult) {
    Scratch s;
    run_binary({"-q", "--table", "r.tsv", "sim.txt", "obs.txt"}, "", s.dir);
    const std::string whole = read_file(s.file("r.tsv"));
    std::thread other([&] { run_binary({"-q", "--seed", "3", "--table", "r.tsv", "sim.txt", "obs.txt"}, "", s.dir); });
    run_binary({"-q", "--table", "r.tsv", "sim.txt", "obs.txt"}, "", s.dir);
    other.join();
    run_binary({"-q", "--seed", "3", "--table", "s3.tsv", "sim.txt", "obs.txt"}, "", s.dir);
    const std::string got = read_file(s.file("r.tsv"));
    EXPECT_TRUE(got == whole || got == read_file(s.file("s3.tsv")));
}

TEST(Files, APictureThatCannotBeDrawnIsAFailure) {
    Scratch s;
    // Wider than cairo draws: the surface cannot be made.
    HeatmapMatrix m;
    m.rows = 1;
    m.cols = 40000;
    m.value.assign(40000, 0.5);
    m.assign = {0};
    m.peak_ids = {"1"};
    m.residue_numbers.assign(40000, "2");
    try {
        OutputFile f(s.file("r.tsv"));
        write_heatmap(f, m, "title");
        ADD_FAILURE() << "drawn";
    } catch (const Failure& f) {
        EXPECT_EQ(f.message, s.file("r.tsv") +
                                 ": cannot draw the heat map: invalid value (typically too big) for the size of the "
                                 "input (surface, pattern, etc.)");
    }
    EXPECT_EQ(read_file(s.file("r.tsv")), s.before);
    EXPECT_EQ(s.names(), kFiles);
    // Text that is not UTF-8 keeps its valid bytes, the others replaced.
    EXPECT_EQ(valid_utf8("sim\xff.txt"), "sim\xEF\xBF\xBD.txt");
    EXPECT_EQ(valid_utf8("\xc3\xa9t\xc3"), "\xc3\xa9t\xEF\xBF\xBD");
    EXPECT_EQ(valid_utf8("\xed\xa0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // a surrogate
    EXPECT_EQ(valid_utf8("\xf0\x9f\x99\x82"), "\xf0\x9f\x99\x82");
}

}  // namespace
