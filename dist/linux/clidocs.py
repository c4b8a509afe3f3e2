#!/usr/bin/env python3
"""Writes the man page and the bash completion of vellumor-vdp-cli from the
tool's own --version, --help and COMMAND --help output, at build time, so that
neither can say something the tool does not do.

    clidocs.py TOOL --date YYYY-MM-DD --man OUT.1 --completion OUT.bash

The help follows one layout (src/app/cli/cliparser.cpp): blocks separated by
blank lines; a block whose first line ends with ":" and whose other lines are
"  TERM  TEXT" (two spaces between) is a list; any other block is prose. A
command's help starts with its usage line, then its one-line summary.
"""

import argparse
import re
import subprocess
import sys

ENTRY = re.compile(r"^  (\S(?:.*?\S)?)  +(\S.*)$")
CONTINUATION = re.compile(r"^ {4,}(\S.*)$")
CHOICE = re.compile(r"[a-z][a-z0-9-]*")


class HelpError(Exception):
    pass


def tool_output(tool, *arguments):
    result = subprocess.run([tool, *arguments], capture_output=True, text=True)
    if result.returncode != 0:
        raise HelpError(f"{tool} {' '.join(arguments)} exited with {result.returncode}: {result.stderr.strip()}")
    return result.stdout


def blocks(text):
    current = []
    for line in text.splitlines():
        if line.strip():
            current.append(line.rstrip())
        elif current:
            yield current
            current = []
    if current:
        yield current


def as_list(block):
    """(heading, [(term, text)]) for a list block, else None."""
    if len(block) < 2 or not block[0].endswith(":") or block[0].startswith(" "):
        return None
    entries = []
    for line in block[1:]:
        entry = ENTRY.match(line)
        more = CONTINUATION.match(line)
        if entry and not more:
            entries.append([entry.group(1), entry.group(2)])
        elif more and entries:
            entries[-1][1] += " " + more.group(1)
        else:
            return None
    return block[0][:-1], [tuple(entry) for entry in entries]


def usage_of(block, what):
    if not block or not block[0].startswith("Usage: "):
        raise HelpError(f"the help of {what} does not start with its usage line")
    return block[0][len("Usage: "):]


class Option:
    def __init__(self, term, text):
        names, _, last = term.rpartition(", ")
        flag, _, self.value = last.partition(" ")
        self.names = (names.split(", ") if names else []) + [flag]
        self.text = text
        self.choices = choices(text) if self.value else []


def choices(text):
    """The words an option's text lists after a colon: "CSV delimiter: auto,
    comma, semicolon, tab" or "...: standard or cut-stack (default: ...)"."""
    head = text.split(" (default")[0]
    if ": " not in head:
        return []
    words = re.split(r", | or ", head.rsplit(": ", 1)[1])
    return words if all(CHOICE.fullmatch(word) for word in words) else []


class Help:
    """One --help text: its usage, the prose blocks in order and its lists."""

    def __init__(self, text, what):
        parts = list(blocks(text))
        if not parts:
            raise HelpError(f"the help of {what} is empty")
        self.usage = usage_of(parts[0], what)
        self.prose = []
        self.lists = {}
        for block in parts[1:]:
            listed = as_list(block)
            if listed:
                self.lists[listed[0]] = listed[1]
            else:
                self.prose.append(block)

    def options(self, heading):
        return [Option(term, text) for term, text in self.lists.get(heading, [])]


class Command:
    def __init__(self, name, argument_terms, help_text):
        self.name = name
        if help_text is None:
            # "help [COMMAND]" has no help page of its own.
            self.usage = None
            self.summary = None
            self.prose = []
            self.arguments = [(term, "") for term in argument_terms]
            self.option_entries = []
            self.options = []
            return
        parsed = Help(help_text, name)
        if not parsed.prose or len(parsed.prose[0]) != 1:
            raise HelpError(f"the help of {name} has no one-line summary after its usage")
        self.usage = parsed.usage
        self.summary = parsed.prose[0][0]
        self.prose = parsed.prose[1:]
        self.arguments = parsed.lists.get("Arguments", [])
        self.option_entries = parsed.lists.get("Options", [])
        self.options = parsed.options("Options")


def read_tool(tool):
    version_line = tool_output(tool, "--version").strip()
    name, _, version = version_line.partition(" ")
    if not version:
        raise HelpError(f"unexpected --version output: {version_line!r}")
    top = Help(tool_output(tool, "--help"), name)
    listed = top.lists.get("Commands")
    if not listed:
        raise HelpError("the tool's help lists no commands")
    global_options = top.options("Global options")
    if not global_options:
        raise HelpError("the tool's help lists no global options")
    commands = []
    for term, _ in listed:
        command, *arguments = term.split()
        bare = [argument.strip("[]") for argument in arguments]
        # Only "help [COMMAND]" shows its arguments in the list; it has no help page of its own.
        help_text = None if arguments else tool_output(tool, command, "--help")
        commands.append(Command(command, bare, help_text))
    return name, version, top, global_options, commands


# --- man page -------------------------------------------------------------

def roff_escape(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "".join(c if ord(c) < 128 else f"\\[u{ord(c):04X}]" for c in text)


def roff_line(text):
    """One input line of running text; a leading dot or quote would be a request."""
    return "\\&" + text if text[:1] in (".", "'") else text


def styled(text, placeholders, literal=None):
    """Options (and `literal`, a command name) in bold, placeholders (FILE,
    DIR, ...) in italics, as man pages show them."""
    names = "|".join(re.escape(p) for p in sorted(placeholders, key=len, reverse=True))
    pattern = r"(?<![\w-])(--?[A-Za-z][\w-]*)|(?<![\w-])(" + names + r")(?!\w)"
    if literal:
        pattern += r"|(?<![\w-])(" + re.escape(literal) + r")(?![\w-])"
    pieces = []
    position = 0
    for match in re.finditer(pattern, text):
        pieces.append(roff_escape(text[position:match.start()]))
        font = "I" if match.group(2) else "B"
        pieces.append(f"\\f{font}{roff_escape(match.group(0))}\\fR")
        position = match.end()
    pieces.append(roff_escape(text[position:]))
    return "".join(pieces)


def prose(block):
    return " ".join(line.strip() for line in block)


def placeholders_of(global_options, commands):
    found = {"COMMAND", "ARGS..."}
    for option in global_options + [o for c in commands for o in c.options]:
        if option.value:
            found.add(option.value)
    for command in commands:
        found.update(term.split()[0] for term, _ in command.arguments)
    return found


def man_page(name, version, date, top, global_options, commands):
    placeholders = placeholders_of(global_options, commands)

    def text(line, literal=None):
        return roff_line(styled(line, placeholders, literal))

    def definition_list(entries):
        for term, description in entries:
            lines.extend([".TP", text(term), text(description)])

    lines = [
        f'.\\" Generated from the output of {name} --help and {name} COMMAND --help; do not edit.',
        f'.TH "{roff_escape(name.upper())}" 1 "{roff_escape(date)}" "Vellumor VDP {roff_escape(version)}" "User Commands"',
        ".SH NAME",
    ]
    sentence = prose(top.prose[0]).split(". ")[0].rstrip(".") if top.prose else name
    lines.append(f"{roff_escape(name)} \\- {roff_escape(sentence[:1].lower() + sentence[1:])}")

    # One usage a line, left-aligned and without hyphenation within option names.
    lines.extend([".SH SYNOPSIS", ".nh", ".ad l"])
    usages = [(top.usage, None)] + [(command.usage, command.name) for command in commands if command.usage]
    for index, (usage, command) in enumerate(usages):
        program, _, rest = usage.partition(" ")
        if index:
            lines.append(".br")
        lines.extend([f".B {roff_escape(program)}", text(rest, command)])
    lines.extend([".ad", ".hy"])

    lines.append(".SH DESCRIPTION")
    exit_blocks = []
    for block in top.prose:
        if block[0].startswith("Exit codes: "):
            exit_blocks.append([block[0][len("Exit codes: "):]] + block[1:])
        else:
            lines.extend([".PP", text(prose(block))])

    lines.append(".SH OPTIONS")
    definition_list(top.lists["Global options"])

    lines.append(".SH COMMANDS")
    summaries = {term.split()[0]: (term, summary) for term, summary in top.lists["Commands"]}
    global_names = {n for option in global_options for n in option.names}
    for command in commands:
        lines.append(f".SS {roff_escape(command.name)}")
        if command.usage is None:
            term, summary = summaries[command.name]
            lines.extend([f".B {roff_escape(name)}", text(term, command.name), ".PP", text(summary)])
            continue
        program, _, rest = command.usage.partition(" ")
        lines.extend([f".B {roff_escape(program)}", text(rest, command.name), ".PP", text(command.summary)])
        for block in command.prose:
            lines.extend([".PP", text(prose(block))])
        if command.arguments:
            lines.extend([".PP", "Arguments:"])
            definition_list(command.arguments)
        # The global options are described once, above.
        own = [(term, description) for (term, description), option in zip(command.option_entries, command.options)
               if not set(option.names) & global_names]
        if own:
            lines.extend([".PP", "Options:"])
            definition_list(own)

    if exit_blocks:
        lines.append(".SH EXIT STATUS")
        for block in exit_blocks:
            lines.extend([".PP", text(prose(block))])
    return "\n".join(lines) + "\n"


# --- bash completion --------------------------------------------------------

def value_completion(value, option_choices):
    if option_choices:
        return f'COMPREPLY=($(compgen -W "{" ".join(option_choices)}" -- "$cur"))'
    if value == "FILE":
        return "compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- \"$cur\"))"
    if value == "DIR":
        return "compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- \"$cur\"))"
    # A number, a name or a list: nothing to offer, and no option either.
    return "COMPREPLY=()"


def completion(name, version, global_options, commands):
    function = "_" + re.sub(r"\W", "_", name)
    global_words = " ".join(n for option in global_options for n in option.names)
    global_values = [option for option in global_options if option.value]
    command_names = " ".join(command.name for command in commands)
    out = [
        f"# bash completion for {name} {version}.",
        f"# Generated from the output of {name} --help and {name} COMMAND --help; do not edit.",
        "",
        f"{function}()",
        "{",
        '    local cur="${COMP_WORDS[COMP_CWORD]}" prev="" word command="" i',
        '    (( COMP_CWORD > 0 )) && prev="${COMP_WORDS[COMP_CWORD-1]}"',
        '    # "--option=value": bash splits at "=", so the option is two words back.',
        '    if [[ $cur == "=" ]]; then',
        '        cur=""',
        '    elif [[ $prev == "=" ]] && (( COMP_CWORD > 1 )); then',
        '        prev="${COMP_WORDS[COMP_CWORD-2]}"',
        "    fi",
        "",
        "    # The command is the first word that is neither an option nor an option's value.",
        "    for (( i = 1; i < COMP_CWORD; i++ )); do",
        '        word="${COMP_WORDS[i]}"',
        '        case "$word" in',
    ]
    if global_values:
        # Its value follows as the next word, or as the one after "=".
        out.append(f'            {"|".join(n for o in global_values for n in o.names)})')
        out.append('                [[ ${COMP_WORDS[i+1]} == "=" ]] && (( i++ ))')
        out.append('                (( i++ )) ;;')
    out += [
        "            -*) ;;",
        '            *) command="$word"; break ;;',
        "        esac",
        "    done",
        "",
        '    case "$prev" in',
    ]
    for option in global_values:
        out.append(f'        {"|".join(option.names)}) {value_completion(option.value, option.choices)}; return ;;')
    out += [
        "    esac",
        "",
        '    local options="" arguments=""',
        '    case "$command" in',
        '        "")',
        f'            options="{global_words}"',
        f'            arguments="{command_names}"',
        "            ;;",
    ]
    for command in commands:
        out.append(f"        {command.name})")
        values = [option for option in command.options if option.value and not set(option.names) & {n for o in global_values for n in o.names}]
        if values:
            out.append('            case "$prev" in')
            for option in values:
                out.append(f'                {"|".join(option.names)}) {value_completion(option.value, option.choices)}; return ;;')
            out.append("            esac")
        words = " ".join(n for option in command.options for n in option.names if n.startswith("--"))
        out.append(f'            options="{words}"')
        kinds = [term.split()[0] for term, _ in command.arguments]
        if "COMMAND" in kinds:
            out.append(f'            arguments="{command_names}"')
        elif "FILE" in kinds:
            out.append('            arguments="@FILE"')
        out.append("            ;;")
    out += [
        "    esac",
        "",
        '    if [[ $cur == -* ]]; then',
        '        COMPREPLY=($(compgen -W "$options" -- "$cur"))',
        '    elif [[ $arguments == "@FILE" ]]; then',
        "        compopt -o filenames 2>/dev/null",
        '        COMPREPLY=($(compgen -f -- "$cur"))',
        "    else",
        '        COMPREPLY=($(compgen -W "$arguments" -- "$cur"))',
        "    fi",
        "}",
        f"complete -F {function} {name}",
    ]
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("tool")
    parser.add_argument("--date", required=True)
    parser.add_argument("--man", required=True)
    parser.add_argument("--completion", required=True)
    args = parser.parse_args()
    try:
        name, version, top, global_options, commands = read_tool(args.tool)
    except (HelpError, OSError) as error:
        print(f"clidocs: {error}", file=sys.stderr)
        return 1
    with open(args.man, "w", encoding="utf-8") as page:
        page.write(man_page(name, version, args.date, top, global_options, commands))
    with open(args.completion, "w", encoding="utf-8") as script:
        script.write(completion(name, version, global_options, commands))
    return 0


if __name__ == "__main__":
    sys.exit(main())
