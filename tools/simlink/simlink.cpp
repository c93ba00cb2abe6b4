#include "simlink.h"

#include "shared/commandline.h"

#include <cstdlib>

#include <algorithm>
#include <csignal>
#include <iostream>

namespace tamlo::sim {

namespace {

// "P" or "P,seed".
bool parseNoise(const std::string& text, double& probability, std::uint32_t& seed) {
    const std::size_t comma = text.find(',');
    const std::string p = text.substr(0, comma);
    if (p.empty()) {
        return false;
    }
    char* end = nullptr;
    const double value = std::strtod(p.c_str(), &end);
    if (end != p.c_str() + p.size() || !(value >= 0.0 && value <= 1.0)) {
        return false;
    }
    probability = value;
    if (comma != std::string::npos) {
        auto parsed = parseInteger(text.substr(comma + 1), 0, 4294967295LL);
        if (!parsed) {
            return false;
        }
        seed = static_cast<std::uint32_t>(*parsed);
    }
    return true;
}

}  // namespace

std::optional<SimulatorArguments> parseSimulatorArguments(
    int argc, const char* const* argv, const std::vector<std::string>& ownOptions,
    const std::vector<std::string>& requiredOptions, std::string& error) {
    QList<CommandOption> options{helpOption(), versionOption()};
    std::vector<std::string> valued{"--link", "--log", "--reply-delay-ms", "--noise"};
    valued.insert(valued.end(), ownOptions.begin(), ownOptions.end());
    for (const std::string& name : valued) {
        options << CommandOption{
            {QString::fromStdString(name.substr(2))}, QStringLiteral("value"), {}};
    }
    QStringList words;
    for (int i = 1; i < argc; ++i) {
        words << QString::fromLocal8Bit(argv[i]);
    }
    QCommandLineParser parser;
    if (const std::optional<QString> refused = parseCommandOptions(parser, options, words)) {
        error = refused->toStdString();
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = "unknown argument \"" + parser.positionalArguments().first().toStdString() + "\"";
        return std::nullopt;
    }
    SimulatorArguments arguments;
    arguments.help = parser.isSet(QStringLiteral("help"));
    arguments.version = parser.isSet(QStringLiteral("version"));
    if (arguments.help || arguments.version)
        return arguments;

    std::map<std::string, std::string> given;
    for (const std::string& name : valued) {
        const QString key = QString::fromStdString(name.substr(2));
        if (parser.isSet(key)) {
            given[name] = parser.value(key).toStdString();
        }
    }
    for (auto& [name, value] : given) {
        if (name == "--link") {
            arguments.linkPath = value;
        } else if (name == "--log") {
            arguments.logPath = value;
        } else if (name == "--reply-delay-ms") {
            auto delay = parseInteger(value, 0, 60'000);
            if (!delay) {
                error =
                    "--reply-delay-ms wants milliseconds from 0 to 60000, not \"" + value + "\"";
                return std::nullopt;
            }
            arguments.replyDelayMs = static_cast<int>(*delay);
        } else if (name == "--noise") {
            if (!parseNoise(value, arguments.noise, arguments.noiseSeed)) {
                error =
                    "--noise wants P[,seed] with P from 0 to 1 and a seed from 0 to "
                    "4294967295, not \"" +
                    value + "\"";
                return std::nullopt;
            }
        } else {
            arguments.options[name] = value;
        }
    }
    std::vector<std::string> required = requiredOptions;
    required.insert(required.begin(), "--link");
    for (const std::string& name : required) {
        auto it = given.find(name);
        if (it == given.end() || it->second.empty()) {
            error = name + " is required";
            return std::nullopt;
        }
    }
    return arguments;
}

std::optional<SimulatorArguments> takeArguments(int argc, const char* const* argv,
                                                const char* programName, const char* usage,
                                                const std::vector<std::string>& ownOptions,
                                                const std::vector<std::string>& requiredOptions,
                                                int& exitCode) {
    std::string error;
    auto arguments = parseSimulatorArguments(argc, argv, ownOptions, requiredOptions, error);
    if (!arguments) {
        // The usage lines, the first paragraph of the usage text.
        const std::string text = usage;
        std::cerr << programName << ": " << error << "\n"
                  << text.substr(0, text.find("\n\n") + 1) << "Try " << programName
                  << " --help for the options." << std::endl;
        exitCode = kExitUsage;
        return std::nullopt;
    }
    if (arguments->help) {
        std::cout << usage << std::flush;
        exitCode = kExitOk;
        return std::nullopt;
    }
    if (arguments->version) {
        std::cout << programName << " " << TAMLO_VERSION << std::endl;
        exitCode = kExitOk;
        return std::nullopt;
    }
    return arguments;
}

int serveLine(const char* programName, const SimulatorArguments& arguments, Responder& responder,
              FaultTable& faults, LoopOptions options) {
    RequestLog log;
    if (!arguments.logPath.empty() && !log.open(arguments.logPath)) {
        std::cerr << programName << ": " << log.errorText() << std::endl;
        return kExitUsage;
    }
    // A stop signal between making the link and the loop listening would leave the link behind:
    // hold such signals until then (the loop takes them at once).
    sigset_t stopSet;
    sigemptyset(&stopSet);
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stopSet, signalNumber);
    ::sigprocmask(SIG_BLOCK, &stopSet, nullptr);
    PseudoTerminal terminal;
    switch (terminal.open(arguments.linkPath)) {
        case PseudoTerminal::OpenResult::Opened:
            break;
        case PseudoTerminal::OpenResult::LinkFailed:
            std::cerr << programName << ": " << terminal.errorText() << std::endl;
            return kExitUsage;
        case PseudoTerminal::OpenResult::TerminalFailed:
            std::cerr << programName << ": " << terminal.errorText() << std::endl;
            return kExitFailure;
    }
    options.replyDelayMs = arguments.replyDelayMs;
    options.noise = arguments.noise;
    options.noiseSeed = arguments.noiseSeed;
    SimulatorLoop loop(terminal, responder, faults, log, options);
    int exitCode = loop.run();
    terminal.close();
    return exitCode;
}

}  // namespace tamlo::sim
