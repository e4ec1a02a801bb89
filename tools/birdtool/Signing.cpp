#include "Signing.h"

#include <getopt.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "AtomicFile.h"
#include "FirmwareSignature.h"
#include "SecretKey.h"
#include "SignatureCheck.h"

namespace {

const int exitFailure = 1;
const int exitUsage = 2;

struct Failure {
    int status;
    std::string message;
};

[[noreturn]] void usage(const std::string& message) {
    throw Failure{exitUsage, message};
}
[[noreturn]] void fail(const std::string& message) {
    throw Failure{exitFailure, message};
}

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeNew(const std::string& path, const std::string& content, bool force) {
    if (!force && access(path.c_str(), F_OK) == 0) fail(path + " exists (-f replaces it)");
    if (writeFileAtomically(path, content) != aErrNone) fail("cannot write " + path);
}

// A secret key readable by others lets them sign firmware (an unprotected one at
// once, a protected one after guessing offline): it is made for its owner only,
// and one replaced with -f loses the modes of the file it replaces.
void writeSecret(const std::string& path, const std::string& content, bool force) {
    const mode_t previous = umask(077);
    try {
        writeNew(path, content, force);
    } catch (...) {
        umask(previous);
        throw;
    }
    umask(previous);
    if (chmod(path.c_str(), 0600) != 0) fail("cannot restrict " + path + " to its owner");
}

// One line of standard input; on a terminal a prompt is shown and echo is off.
std::string readPassword(const char* prompt) {
    const bool terminal = isatty(STDIN_FILENO);
    termios saved{};
    if (terminal) {
        std::fprintf(stderr, "%s", prompt);
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string password;
    const bool read = static_cast<bool>(std::getline(std::cin, password));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fprintf(stderr, "\n");
    }
    if (!read) fail("no password on standard input");
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
}

const option keygenOptions[] = {{"public", required_argument, nullptr, 'p'},
                                {"secret", required_argument, nullptr, 's'},
                                {"unprotected", no_argument, nullptr, 'W'},
                                {"force", no_argument, nullptr, 'f'},
                                {nullptr, 0, nullptr, 0}};

int keygen(int argc, char** argv) {
    std::string publicPath, secretPath;
    bool unprotected = false, force = false;
    int c;
    while ((c = getopt_long(argc, argv, "+p:s:Wf", keygenOptions, nullptr)) != -1) {
        switch (c) {
        case 'p':
            publicPath = optarg;
            break;
        case 's':
            secretPath = optarg;
            break;
        case 'W':
            unprotected = true;
            break;
        case 'f':
            force = true;
            break;
        default:
            usage("");
        }
    }
    if (publicPath.empty() || secretPath.empty() || optind != argc) usage("keygen takes -p PUB -s SECRET");
    std::string password;
    if (!unprotected) {
        password = readPassword("Password: ");
        if (password.empty()) usage("an empty password: use -W for an unprotected key");
        if (isatty(STDIN_FILENO) && readPassword("Password (again): ") != password)
            fail("the passwords differ");
    }
    const minisign::KeyPair pair = minisign::generateKeyPair();
    const std::string keyId = minisign::keyIdText(pair.publicKey.keyId);
    writeSecret(secretPath, minisign::formatSecretKey(pair.secretKey, password, minisign::kDefaultKdfCost),
                force);
    writeNew(publicPath, minisign::formatPublicKey(pair.publicKey, "veltrano public key " + keyId), force);
    std::printf("Key id %s\nPublic key: %s\n", keyId.c_str(),
                minisign::publicKeyLine(pair.publicKey).c_str());
    return 0;
}

minisign::SecretKey loadSecretKey(const std::string& path) {
    const std::string text = readWhole(path);
    const std::string password = minisign::secretKeyIsProtected(text) ? readPassword("Password: ") : "";
    minisign::SecretKey key;
    const std::string why = minisign::parseSecretKey(text, password, key);
    if (!why.empty()) fail(path + ": " + why);
    return key;
}

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

const option signOptions[] = {{"secret", required_argument, nullptr, 's'},
                              {"signature", required_argument, nullptr, 'x'},
                              {"trusted-comment", required_argument, nullptr, 't'},
                              {"legacy", no_argument, nullptr, 'l'},
                              {nullptr, 0, nullptr, 0}};

int sign(int argc, char** argv) {
    std::string secretPath, signaturePath, comment;
    bool legacy = false, commentGiven = false;
    int c;
    while ((c = getopt_long(argc, argv, "+s:x:t:l", signOptions, nullptr)) != -1) {
        switch (c) {
        case 's':
            secretPath = optarg;
            break;
        case 'x':
            signaturePath = optarg;
            break;
        case 't':
            comment = optarg;
            commentGiven = true;
            break;
        case 'l':
            legacy = true;
            break;
        default:
            usage("");
        }
    }
    if (secretPath.empty() || argc - optind != 1) usage("sign takes -s SECRET and one FILE");
    const std::string path = argv[optind];
    if (comment.find('\n') != std::string::npos || comment.find('\r') != std::string::npos)
        usage("the trusted comment must be one line");
    const std::string content = readWhole(path);
    const minisign::SecretKey key = loadSecretKey(secretPath);
    if (!commentGiven)
        comment = "timestamp:" + std::to_string(time(nullptr)) + "\tfile:" + baseName(path) +
                  (legacy ? "" : "\thashed");
    const minisign::Signature signature =
        minisign::sign(reinterpret_cast<const uint8_t*>(content.data()), content.size(), key, !legacy,
                       "signature from veltrano key " + minisign::keyIdText(key.keyId), comment);
    if (signaturePath.empty()) signaturePath = signaturePathFor(path);
    writeNew(signaturePath, minisign::formatSignature(signature), true);
    return 0;
}

const option verifyOptions[] = {{"public", required_argument, nullptr, 'p'},
                                {"signature", required_argument, nullptr, 'x'},
                                {nullptr, 0, nullptr, 0}};

int verify(int argc, char** argv) {
    std::string publicPath, signaturePath;
    int c;
    while ((c = getopt_long(argc, argv, "+p:x:", verifyOptions, nullptr)) != -1) {
        switch (c) {
        case 'p':
            publicPath = optarg;
            break;
        case 'x':
            signaturePath = optarg;
            break;
        default:
            usage("");
        }
    }
    if (publicPath.empty() || argc - optind != 1) usage("verify takes -p PUB and one FILE");
    const std::string path = argv[optind];
    if (signaturePath.empty()) signaturePath = signaturePathFor(path);
    minisign::PublicKey key;
    std::string why = minisign::parsePublicKey(readWhole(publicPath), key);
    if (!why.empty()) fail(publicPath + ": " + why);
    minisign::Signature signature;
    why = minisign::parseSignature(readWhole(signaturePath), signature);
    if (!why.empty()) fail(signaturePath + ": " + why);
    const std::string content = readWhole(path);
    switch (
        minisign::verify(reinterpret_cast<const uint8_t*>(content.data()), content.size(), signature, key)) {
    case minisign::Verdict::Good:
        std::printf("Signature and comment signature verified\nTrusted comment: %s\n",
                    signature.trustedComment.c_str());
        return 0;
    case minisign::Verdict::OtherKey:
        fail(path + ": signed by key " + minisign::keyIdText(signature.keyId) + ", not by key " +
             minisign::keyIdText(key.keyId));
    case minisign::Verdict::BadGlobalSignature:
        fail(path + ": trusted comment altered after signing");
    default:
        fail(path + ": signature does not match the file");
    }
}

int run(int (*command)(int, char**), int argc, char** argv) {
    optind = 0; // getopt restarts for the command's own arguments
    try {
        return command(argc, argv);
    } catch (const Failure& failure) {
        if (!failure.message.empty()) std::fprintf(stderr, "birdtool: %s\n", failure.message.c_str());
        if (failure.status == exitUsage) std::fputs("Run 'birdtool --help' for usage.\n", stderr);
        return failure.status;
    }
}

} // namespace

const char* const signingUsageText =
    "keygen  Makes an Ed25519 key pair in minisign's formats. The secret key is\n"
    "        protected by a password read from standard input (a prompt on a terminal).\n"
    "      -p, --public PUB       public key file to write\n"
    "      -s, --secret SECRET    secret key file to write\n"
    "      -W, --unprotected      no password: the secret key is stored in the clear\n"
    "      -f, --force            replace existing key files\n"
    "\n"
    "sign  Writes FILE.minisig, a minisign signature of FILE (prehashed).\n"
    "      -s, --secret SECRET    secret key (minisign's or birdtool's)\n"
    "      -x, --signature SIG    signature file to write instead of FILE.minisig\n"
    "      -t, --trusted-comment TEXT\n"
    "                             signed comment (default: time stamp and file name)\n"
    "      -l, --legacy           sign FILE itself rather than its BLAKE2b-512 hash\n"
    "\n"
    "verify  Checks FILE against FILE.minisig and a public key; exits 1 when the\n"
    "        signature is bad or by another key.\n"
    "      -p, --public PUB       public key file\n"
    "      -x, --signature SIG    signature file to read instead of FILE.minisig\n";

int keygenCommand(int argc, char** argv) {
    return run(keygen, argc, argv);
}
int signCommand(int argc, char** argv) {
    return run(sign, argc, argv);
}
int verifyCommand(int argc, char** argv) {
    return run(verify, argc, argv);
}
