#include "tools/response_plot.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/install_paths.h"

namespace qvtools {

namespace {

std::string python() {
    const char* chosen = std::getenv("QUORVANE_PYTHON");
    // The system interpreter, which has Debian's numpy and matplotlib.
    return chosen != nullptr && *chosen != '\0' ? chosen : "/usr/bin/python3";
}

std::string plotScript(std::string* searched) { return findShippedFile("plot_response.py", searched); }

bool runPlot(const std::string& data, const std::string& image, const std::string& format, std::string* error) {
    const std::string interpreter = python();
    std::string searched;
    const std::string script = plotScript(&searched);
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child < 0) {
        *error = "cannot start the plotting script";
        return false;
    }
    if (child == 0) {
        // The audio may be on standard output: the script must not write there.
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execl(interpreter.c_str(), interpreter.c_str(), script.c_str(), data.c_str(), image.c_str(), format.c_str(),
              static_cast<char*>(nullptr));
        std::fprintf(stderr, "quorvane-render: error: cannot run %s for plotting\n", interpreter.c_str());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) break;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *error = "plotting the response failed (" + interpreter + " " + script + ")";
        return false;
    }
    return true;
}

// Writes the measured curves as tab-separated columns with their legend texts
// in the header, for the plotting script; a band without a label is left
// out, so only what was set is drawn and named.
bool writeResponseData(const std::string& path, const MeasuredResponse& response,
                       const std::vector<std::string>& labels, std::string* error) {
    FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        *error = "cannot write the response data: " + std::string(std::strerror(errno));
        return false;
    }
    std::fprintf(out, "# sample_rate\t%.17g\n", response.sampleRate);
    std::fprintf(out, "frequency_hz");
    for (const std::string& label : labels)
        if (!label.empty()) std::fprintf(out, "\t%s", label.c_str());
    std::fprintf(out, "\n");
    for (size_t i = 0; i < response.frequencies.size(); ++i) {
        std::fprintf(out, "%.6f\t%.6f", response.frequencies[i], response.totalDb[i]);
        for (size_t band = 0; band < response.bandDb.size(); ++band)
            if (!labels[band + 1].empty()) std::fprintf(out, "\t%.6f", response.bandDb[band][i]);
        std::fprintf(out, "\n");
    }
    const bool ok = std::fclose(out) == 0;
    if (!ok) *error = "cannot write the response data";
    return ok;
}

}  // namespace

std::string plotFormatOf(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "png" || ext == "svg" || ext == "pdf" ? ext : "";
}

std::string plottingUnavailable() {
    std::string searched;
    const std::string script = plotScript(&searched);
    if (access(python().c_str(), X_OK) == 0 && !script.empty()) return "";
    return "plotting needs " + python() + " with numpy and matplotlib and plot_response.py" +
           (script.empty() ? " (not found in " + searched + ")" : "") +
           " (on Debian or Ubuntu: apt install python3-numpy python3-matplotlib)";
}

bool plotResponse(const MeasuredResponse& response, const std::vector<std::string>& labels,
                  const std::string& imageName, TempOutput* image, std::string* error) {
    TempOutput data;
    if (!data.createScratch("quorvane-response.tsv", error)) return false;
    return writeResponseData(data.path(), response, labels, error) &&
           runPlot(data.path(), image->path(), plotFormatOf(imageName), error);
}

}  // namespace qvtools
