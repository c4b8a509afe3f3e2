#include "cliparser.h"

#include <algorithm>

namespace {

const QString helpOption = QStringLiteral("help");
const QString dataDirOption = QStringLiteral("data-dir");
const QString versionOption = QStringLiteral("version");
const QString helpCommandName = QStringLiteral("help");

// Accepted before the command and among every command's options.
QList<CliOption> commonOptions()
{
    return {
        {dataDirOption, QStringLiteral("DIR"),
         QStringLiteral("Use the database in DIR (default: $TESSOLO_DATA_DIR, "
                        "else the application's data folder)")},
        {helpOption, {}, QStringLiteral("Show this help")},
    };
}

QString optionLabel(const CliOption &option)
{
    QString label = option.name == helpOption ? QStringLiteral("-h, --help")
                                              : QStringLiteral("--") + option.name;
    if (!option.valueName.isEmpty())
        label += u' ' + option.valueName;
    return label;
}

// Two aligned columns, indented, one entry per line.
QString definitionList(const QList<std::pair<QString, QString>> &entries)
{
    qsizetype width = 0;
    for (const auto &[term, text] : entries)
        width = std::max(width, term.size());
    QString result;
    for (const auto &[term, text] : entries)
        result += QStringLiteral("  ") + term.leftJustified(width + 2) + text + u'\n';
    return result;
}

const CliCommand *findCommand(const QList<CliCommand> &commands, const QString &name)
{
    const auto it = std::find_if(commands.begin(), commands.end(),
                                 [&](const CliCommand &command) { return command.name == name; });
    return it == commands.end() ? nullptr : &*it;
}

struct OptionScan
{
    QMap<QString, QString> options;
    QStringList positional;
    qsizetype next = 0; // first token not consumed
    QString error;
};

// Reads options from `tokens` starting at `from`. With `stopAtPositional` it
// stops at the first positional token (the command name); otherwise
// positional tokens are collected.
OptionScan scanOptions(const QStringList &tokens, qsizetype from, const QList<CliOption> &allowed,
                       bool stopAtPositional)
{
    OptionScan scan;
    bool optionsEnded = false;
    qsizetype i = from;
    for (; i < tokens.size(); ++i) {
        const QString &token = tokens.at(i);
        if (optionsEnded || token == u"-" || !token.startsWith(u'-')) {
            if (stopAtPositional)
                break;
            scan.positional << token;
            continue;
        }
        if (token == u"--") {
            optionsEnded = true;
            if (stopAtPositional) {
                ++i;
                break;
            }
            continue;
        }

        QString name;
        QString value;
        bool inlineValue = false;
        if (token == u"-h") {
            name = helpOption;
        } else if (token.startsWith(u"--")) {
            name = token.mid(2);
            const qsizetype equals = name.indexOf(u'=');
            if (equals >= 0) {
                value = name.mid(equals + 1);
                name.truncate(equals);
                inlineValue = true;
            }
        }
        const auto option = std::find_if(allowed.begin(), allowed.end(),
                                         [&](const CliOption &o) { return !name.isEmpty() && o.name == name; });
        if (option == allowed.end()) {
            scan.error = QStringLiteral("unknown option '%1'").arg(token);
            break;
        }
        if (option->valueName.isEmpty()) {
            if (inlineValue) {
                scan.error = QStringLiteral("option '--%1' takes no value").arg(name);
                break;
            }
        } else {
            if (!inlineValue) {
                if (i + 1 >= tokens.size()) {
                    scan.error = QStringLiteral("option '--%1' needs a value %2").arg(name, option->valueName);
                    break;
                }
                value = tokens.at(++i);
            }
            if (value.isEmpty()) {
                scan.error = QStringLiteral("option '--%1' needs a non-empty value %2").arg(name, option->valueName);
                break;
            }
        }
        // The last of two values would win silently: `--cards 1 --cards 2`
        // printing card 2 alone is a reprint of the wrong card.
        if (scan.options.contains(name) && name != helpOption) {
            scan.error = QStringLiteral("option '--%1' given twice").arg(name);
            break;
        }
        scan.options.insert(name, value);
    }
    scan.next = i;
    return scan;
}

CliRequest usageError(const QString &message, const CliCommand *command = nullptr)
{
    CliRequest request;
    request.action = CliRequest::Action::UsageError;
    request.error = message;
    request.command = command;
    return request;
}

QString commandNames(const QList<CliCommand> &commands)
{
    QStringList names;
    for (const CliCommand &command : commands)
        names << command.name;
    names << helpCommandName;
    return names.join(QStringLiteral(", "));
}

QString usageLine(const CliCommand &command)
{
    QString line = QStringLiteral("Usage: %1 [--data-dir DIR] %2").arg(cli::toolName(), command.name);
    for (const CliOption &option : command.options)
        line += option.required ? QString(u' ' + optionLabel(option))
                                : QString(QStringLiteral(" [") + optionLabel(option) + u']');
    for (const CliArgument &argument : command.arguments)
        line += u' ' + argument.name;
    return line;
}

} // namespace

CliRequest parseCommandLine(const QStringList &arguments, const QList<CliCommand> &commands)
{
    QList<CliOption> toolOptions = commonOptions();
    toolOptions.append({versionOption, {}, {}});
    const OptionScan global = scanOptions(arguments, 0, toolOptions, true);
    if (!global.error.isEmpty())
        return usageError(global.error);

    const bool helpAsked = global.options.contains(helpOption);
    if (global.next >= arguments.size()) {
        CliRequest request;
        if (helpAsked)
            request.action = CliRequest::Action::ShowToolHelp;
        else if (global.options.contains(versionOption))
            request.action = CliRequest::Action::ShowVersion;
        else
            return usageError(QStringLiteral("no command given"));
        return request;
    }

    const QString name = arguments.at(global.next);
    if (name == helpCommandName) {
        const QStringList rest = arguments.mid(global.next + 1);
        CliRequest request;
        if (rest.isEmpty()) {
            request.action = CliRequest::Action::ShowToolHelp;
        } else if (rest.size() > 1) {
            return usageError(QStringLiteral("'help' takes at most one command name"));
        } else if (const CliCommand *command = findCommand(commands, rest.first())) {
            request.action = CliRequest::Action::ShowCommandHelp;
            request.command = command;
        } else {
            return usageError(QStringLiteral("unknown command '%1'").arg(rest.first()));
        }
        return request;
    }

    const CliCommand *command = findCommand(commands, name);
    if (!command)
        return usageError(QStringLiteral("unknown command '%1'").arg(name));

    const OptionScan local = scanOptions(arguments, global.next + 1, command->options + commonOptions(), false);
    if (!local.error.isEmpty())
        return usageError(local.error, command);
    if (global.options.contains(dataDirOption) && local.options.contains(dataDirOption))
        return usageError(QStringLiteral("option '--%1' given twice").arg(dataDirOption), command);

    CliRequest request;
    request.command = command;
    if (helpAsked || local.options.contains(helpOption)) {
        request.action = CliRequest::Action::ShowCommandHelp;
        return request;
    }
    if (local.positional.size() < command->arguments.size())
        return usageError(QStringLiteral("missing argument %1").arg(command->arguments.at(local.positional.size()).name),
                          command);
    if (local.positional.size() > command->arguments.size())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(local.positional.at(command->arguments.size())),
                          command);

    for (const CliOption &option : command->options) {
        if (option.required && !local.options.contains(option.name))
            return usageError(QStringLiteral("missing option %1").arg(optionLabel(option)), command);
    }

    request.action = CliRequest::Action::Run;
    request.dataDirectory = local.options.value(dataDirOption, global.options.value(dataDirOption));
    request.invocation.arguments = local.positional;
    for (const CliOption &option : command->options) {
        if (local.options.contains(option.name))
            request.invocation.options.insert(option.name, local.options.value(option.name));
    }
    return request;
}

QString toolUsage(const QList<CliCommand> &commands)
{
    return QStringLiteral("Usage: %1 [--data-dir DIR] COMMAND [ARGS...]\n"
                          "Commands: %2\n"
                          "Run '%1 --help' for more information.\n")
        .arg(cli::toolName(), commandNames(commands));
}

QString toolHelp(const QList<CliCommand> &commands)
{
    QList<std::pair<QString, QString>> commandList;
    for (const CliCommand &command : commands)
        commandList.append({command.name, command.summary});
    commandList.append({helpCommandName + QStringLiteral(" [COMMAND]"), QStringLiteral("Show the help of the tool or of a command")});

    QList<std::pair<QString, QString>> optionList;
    for (const CliOption &option : commonOptions())
        optionList.append({optionLabel(option), option.description});
    optionList.append({QStringLiteral("--version"), QStringLiteral("Show the version")});

    return QStringLiteral("Usage: %1 [--data-dir DIR] COMMAND [ARGS...]\n\n"
                          "Works on the project database of Vellumor VDP without opening its window.\n"
                          "The database is opened, seeded and upgraded exactly as the window does;\n"
                          "a database it creates is announced on stderr.\n\n"
                          "Commands:\n%2\n"
                          "Global options:\n%3\n"
                          "Exit codes: 0 success, 1 the operation failed, 2 the command line is wrong,\n"
                          "3 'export' found problems in the job: nothing written (see --allow-warnings),\n"
                          "or a PDF written in which some barcode or QR codes print blank.\n"
                          "Run '%1 COMMAND --help' for the arguments and options of a command.\n")
        .arg(cli::toolName(), definitionList(commandList), definitionList(optionList));
}

QString commandUsage(const CliCommand &command)
{
    return usageLine(command)
        + QStringLiteral("\nRun '%1 %2 --help' for more information.\n").arg(cli::toolName(), command.name);
}

QString commandHelp(const CliCommand &command)
{
    QString help = usageLine(command) + QStringLiteral("\n\n") + command.summary + u'\n';
    if (!command.description.isEmpty())
        help += u'\n' + command.description + u'\n';
    if (!command.arguments.isEmpty()) {
        QList<std::pair<QString, QString>> list;
        for (const CliArgument &argument : command.arguments)
            list.append({argument.name, argument.description});
        help += QStringLiteral("\nArguments:\n") + definitionList(list);
    }
    QList<std::pair<QString, QString>> list;
    for (const CliOption &option : command.options + commonOptions())
        list.append({optionLabel(option), option.description});
    help += QStringLiteral("\nOptions:\n") + definitionList(list);
    return help;
}
