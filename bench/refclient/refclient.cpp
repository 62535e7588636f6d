// zorv_refclient: the simplest fast libcurl download, used as the reference
// point of bench/fetch.
//
//   zorv_refclient URL OUTFILE        one transfer into OUTFILE
//   zorv_refclient -l URLFILE OUTDIR  each URL of URLFILE (one a line), in
//                                     turn, into OUTDIR/<last path segment>,
//                                     reusing one handle (and its connection)
//
// One easy handle, a 64 KiB receive buffer, no progress meter, and a write
// callback that hands each received block straight to the file. Exit status:
// 0 when every transfer succeeded, 1 when any failed, 2 for usage errors.
#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

constexpr long kBufferSize = 64 * 1024;

size_t WriteToFile(char* data, size_t size, size_t count, void* user)
{
    auto* file = static_cast<std::FILE*>(user);
    return std::fwrite(data, size, count, file) * size;
}

void Usage()
{
    std::fprintf(stderr,
                 "usage: zorv_refclient URL OUTFILE\n"
                 "       zorv_refclient -l URLFILE OUTDIR\n");
}

// Downloads url into path with the (reused) handle; prints the cause on failure.
bool Fetch(CURL* curl, const std::string& url, const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "zorv_refclient: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    // Every write is a whole received block: stdio buffering would only add a copy.
    std::setvbuf(file, nullptr, _IONBF, 0);

    char error[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    const CURLcode rc = curl_easy_perform(curl);
    const bool closed = std::fclose(file) == 0;
    if (rc != CURLE_OK) {
        std::fprintf(stderr, "zorv_refclient: %s: %s\n", url.c_str(),
                     error[0] ? error : curl_easy_strerror(rc));
        return false;
    }
    if (!closed) {
        std::fprintf(stderr, "zorv_refclient: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

std::string LastSegment(const std::string& url)
{
    std::string path = url.substr(0, url.find_first_of("?#"));
    const size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        name = "index.html";
    return name;
}

} // namespace

int main(int argc, char** argv)
{
    const bool listMode = argc == 4 && std::strcmp(argv[1], "-l") == 0;
    if (!listMode && (argc != 3 || argv[1][0] == '-')) {
        Usage();
        return 2;
    }

    std::ifstream urls;
    if (listMode) {
        urls.open(argv[2]);
        if (!urls) {
            std::fprintf(stderr, "zorv_refclient: %s: %s\n", argv[2], std::strerror(errno));
            return 2;
        }
    }

    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        std::fprintf(stderr, "zorv_refclient: libcurl initialisation failed\n");
        return 2;
    }
    CURL* curl = curl_easy_init();
    if (!curl) {
        std::fprintf(stderr, "zorv_refclient: no transfer handle\n");
        return 2;
    }
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kBufferSize);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteToFile);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);

    bool ok = true;
    if (listMode) {
        const std::string dir = argv[3];
        std::string line;
        while (std::getline(urls, line)) {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
                line.pop_back();
            if (line.empty())
                continue;
            ok = Fetch(curl, line, dir + "/" + LastSegment(line)) && ok;
        }
    } else {
        ok = Fetch(curl, argv[1], argv[2]);
    }

    curl_easy_cleanup(curl);
    curl_global_cleanup();
    return ok ? 0 : 1;
}
