"""Checks the installer declarations against the built DLL.

    check_declarations.py OBJDUMP setupsup.dll setupsup.h setupsup.def setupsup.nsh setupsup.iss \
        README.md exports.md null-arguments.md

The export names come from the DLL's own export table (objdump -p); each
export's arguments from the public header, whose argument bytes must agree
with the stdcall decoration in the .def file. An export that takes or returns
ANSI text must have its W twin (its name and W) taking the same arguments
with UTF-16 text, and a twin must have its ANSI export; an export without
text has no twin. Then:
  - in setupsup.nsh: one macro SetupSup_NAME behind the define
    SetupSup::NAME for every export but the twins, taking the inputs, one
    variable per output and the result variable, and one System::Call whose
    export and string types depend on the target. Resolved with the defines
    that _SetupSup_Text sets for each target, the call must be of the W twin
    with "w" strings in a Unicode installer, of NAME with "m" strings in an
    ANSI one, its types matching the called export's arguments;
  - in setupsup.iss: every export, the twins included, declared once for
    setup (files:, setuponly) as NAME and once for the uninstaller
    (uninstallonly) as UnNAME, with matching Pascal types: String for UTF-16
    text, AnsiString for ANSI text, {#SetupSupRoot} for a registry root; and
    its preprocessor block must give a Setup of the DLL's architecture the
    DLL's folder, root type and root values.
Nothing else may be declared. Every export has its PFN_ type of the same
arguments in the header, and its documentation: a row of the README's table
(the ANSI export), a section in exports.md with both declarations, a row of
exports.md's Windows 95-family table (each W export), and a row of
null-arguments.md naming it and its twin (an export without pointers: its
name there). Prints every mismatch; exit status 1 if any."""
import re
import subprocess
import sys

# Argument kinds and how each installer language spells them: text in and
# out in ANSI (in, out) and in UTF-16 (win, wout), and the kinds without text.
# A DWORD named room is an output buffer's room: the NSIS macro passes System's
# own (NSIS_MAX_STRLEN) and takes no argument for it.
NSIS_TYPES = {"in": "ms", "out": "m.s", "win": "ws", "wout": "w.s", "intout": "*i.s", "int": "is", "root": "ps",
              "dword": "is", "room": "i ${NSIS_MAX_STRLEN}"}
INNO_TYPES = {"in": "AnsiString", "out": "AnsiString", "win": "String", "wout": "String", "intout": "var Integer",
              "int": "Integer", "root": "{#SetupSupRoot}", "dword": "Cardinal", "room": "Cardinal"}
# What setupsup.iss's preprocessor block must give a Setup of each architecture:
# the DLL's folder, the root type, and the roots (sign-extended in 64 bits).
INNO_ARCHITECTURES = {
    "x86": {"SetupSupArch": "x86", "SetupSupRoot": "Cardinal", "SetupSupHKCR": "$80000000",
            "SetupSupHKCU": "$80000001", "SetupSupHKLM": "$80000002", "SetupSupHKU": "$80000003"},
    "x64": {"SetupSupArch": "x64", "SetupSupRoot": "NativeInt", "SetupSupHKCR": "-2147483648",
            "SetupSupHKCU": "-2147483647", "SetupSupHKLM": "-2147483646", "SetupSupHKU": "-2147483645"},
}
# The kind of each ANSI text argument in the W twin.
WIDE = {"in": "win", "out": "wout"}


def kind(c_argument):
    text = " ".join(c_argument.split())
    if re.fullmatch(r"const char\s*\*\s*\w*", text):
        return "in"
    if re.fullmatch(r"char\s*\*\s*\w*", text):
        return "out"
    if re.fullmatch(r"const wchar_t\s*\*\s*\w*", text):
        return "win"
    if re.fullmatch(r"wchar_t\s*\*\s*\w*", text):
        return "wout"
    if re.fullmatch(r"int\s*\*\s*\w*", text):
        return "intout"
    if re.fullmatch(r"int\s+\w+|int", text):
        return "int"
    if re.fullmatch(r"HKEY\s*\w*", text):
        return "root"
    if re.fullmatch(r"DWORD\s+room", text):
        return "room"
    if re.fullmatch(r"DWORD\s*\w*", text):
        return "dword"
    raise ValueError("unknown argument type: " + c_argument)


def dll_architecture(objdump, dll):
    text = subprocess.run([objdump, "-f", dll], check=True, capture_output=True, text=True).stdout
    return "x64" if "x86-64" in text else "x86"


def inno_architecture_defines(iss):
    """The preprocessor defines setupsup.iss makes for a 64-bit Setup and for any other."""
    block = re.search(r'^#if LowerCase\(SetupSetting\("SetupArchitecture"\)\) == "x64"\n(.*?)^#else\n(.*?)^#endif',
                      open(iss).read(), re.M | re.S)
    if not block:
        return {}
    return {arch: dict(re.findall(r'#define (\w+) "([^"]*)"', branch))
            for arch, branch in (("x64", block.group(1)), ("x86", block.group(2)))}


def export_table(objdump, dll):
    text = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout
    table = text.split("[Ordinal/Name Pointer] Table", 1)[1].split("\n\n", 1)[0]
    return re.findall(r"\[\s*\d+\]\s+(\w+)", table)


def header_arguments(header, pattern=r"\bint\s+WINAPI\s+(\w+)\s*\(([^)]*)\)\s*;"):
    text = re.sub(r"/\*.*?\*/", "", open(header).read(), flags=re.S)
    found = {}
    for name, args in re.findall(pattern, text):
        args = args.strip()
        found[name] = [] if args in ("", "void") else [kind(a) for a in args.split(",")]
    return found


def pfn_arguments(header):
    """The arguments of each export's PFN_ type, by the export's name."""
    return header_arguments(header, r"typedef\s+int\s*\(\s*WINAPI\s*\*\s*PFN_(\w+)\)\s*\(([^)]*)\)\s*;")


def doc_faults(exports, arguments, readme, exports_md, nulls_md):
    """Every export where each document lists it."""
    faults = []
    readme_rows = set(re.findall(r"^\| `(\w+)` \|", open(readme).read(), re.M))
    text = open(exports_md).read()
    sections = set(re.findall(r"^### (\w+)$", text, re.M))
    declared = set(re.findall(r"^int WINAPI (\w+)\(", text, re.M))
    table = re.search(r"^\| W export \|.*?\n((?:\|.*\n)+)", text, re.M)
    nineX = set(re.findall(r"`(\w+)`", table.group(1).split("\n", 1)[1])) if table else set()
    nulls = open(nulls_md).read()
    null_rows = re.findall(r"^\| (`\w+`(?:, `\w+`)*) \|", nulls, re.M)
    for name in exports:
        twin = name.endswith("W") and name[:-1] in exports
        ansi = name[:-1] if twin else name
        if not twin and name not in readme_rows:
            faults.append("README.md: no row for %s in the export table" % name)
        if ansi not in sections:
            faults.append("exports.md: no section ### %s" % ansi)
        if name not in declared:
            faults.append("exports.md: no declaration of %s" % name)
        if twin and name not in nineX:
            faults.append("exports.md: %s has no row in the Windows 95-family table" % name)
        if not any(k in ("in", "out", "win", "wout", "intout") for k in arguments.get(name, [])):
            if not re.search(r"`%s`" % name, nulls):
                faults.append("null-arguments.md: %s is not named" % name)
        elif not any("`%s`" % name in row and "`%s`" % ansi in row for row in null_rows):
            faults.append("null-arguments.md: no row naming %s%s" % (name, " with " + ansi if twin else ""))
    return faults


def def_bytes(def_file):
    return {name: int(n) for name, n in re.findall(r"^\s*(\w+)\s*=\s*\w+@(\d+)", open(def_file).read(), re.M)}


def twin_faults(exports, arguments):
    """Every export with ANSI text has its W twin, of the same arguments in UTF-16."""
    faults = []
    for name in exports:
        kinds = arguments.get(name, [])
        if name.endswith("W") and name[:-1] in exports:
            ansi = arguments.get(name[:-1], [])
            if not any(k in WIDE for k in ansi):
                faults.append("%s: a twin of %s, which takes no text" % (name, name[:-1]))
            elif kinds != [WIDE.get(k, k) for k in ansi]:
                faults.append("%s takes %s, not the arguments of %s in UTF-16 (%s)" % (name, kinds, name[:-1], ansi))
        elif any(k in WIDE.values() for k in kinds):
            faults.append("%s takes UTF-16 text but the DLL exports no %s" % (name, name[:-1]))
        elif any(k in WIDE for k in kinds) and name + "W" not in exports:
            faults.append("%s takes ANSI text but the DLL exports no %sW" % (name, name))
    return faults


def nsis_macros(nsh):
    text = open(nsh).read()
    defines = re.findall(r"^!define SetupSup::(\w+) `!insertmacro SetupSup_(\w+)`", text, re.M)
    macros = {}
    for name, params, body in re.findall(r"^!macro SetupSup_(\w+)([^\n]*)\n(.*?)^!macroend", text, re.M | re.S):
        pops = re.findall(r"^\s*Pop \$\{(\w+)\}", body, re.M)
        macros.setdefault(name, []).append((params.split(), body, pops))
    return defines, macros, text_forms(text)


def text_forms(text):
    """The defines that _SetupSup_Text sets for a Unicode and for an ANSI target."""
    macro = re.search(r"^!macro _SetupSup_Text\n(.*?)^!macroend", text, re.M | re.S)
    branches = macro and re.search(r"!ifdef NSIS_UNICODE\n(.*?)!else\n(.*?)!endif", macro.group(1), re.S)
    if not branches:
        return {}
    forms = {}
    for target, branch in (("Unicode", branches.group(1)), ("ANSI", branches.group(2))):
        forms[target] = dict(re.findall(r"!define /redef (\w+) `([^`]*)`", branch))
    return forms


def resolved_calls(body, defines):
    """The exports called from a macro's body and their types, its defines replaced."""
    for define, value in defines.items():
        body = body.replace("${%s}" % define, value)
    return re.findall(r"::(\w+)\(([^)]*)\)i\.s", body)


def inno_declarations(iss):
    text = open(iss).read()
    pattern = r"function\s+(\w+)\s*(?:\(([^)]*)\))?\s*:\s*Integer;\s*external\s+'(\w+)@([^ ']+)\s+stdcall([^']*)'"
    found = []
    for pascal, params, export, where, options in re.findall(pattern, text):
        types = []
        for group in filter(None, (p.strip() for p in params.split(";"))):
            names, ptype = group.split(":", 1)
            prefix = "var " if names.strip().startswith("var ") else ""
            types += [prefix + ptype.strip()] * len(names.replace("var ", "").split(","))
        variant = "setup" if where.startswith("files:") and "setuponly" in options else (
            "uninstall" if "uninstallonly" in options else "other")
        found.append((pascal, export, variant, types))
    return found, len(re.findall(r"\bexternal\b", text))


def main():
    objdump, dll, header, def_file, nsh, iss, readme, exports_md, nulls_md = sys.argv[1:10]
    faults = []
    exports = export_table(objdump, dll)
    arguments = header_arguments(header)
    pfns = pfn_arguments(header)
    decorations = def_bytes(def_file)
    if len(exports) < 25:
        faults.append("the DLL exports only %d functions" % len(exports))
    for name in exports:
        if name not in arguments:
            faults.append("%s: not declared in the header" % name)
        elif decorations.get(name) != 4 * len(arguments[name]):
            faults.append("%s: the header has %d arguments, the .def %s bytes" % (
                name, len(arguments[name]), decorations.get(name)))
        if name in arguments and pfns.get(name) != arguments[name]:
            faults.append("%s: its PFN_ type takes %s, the export %s" % (name, pfns.get(name), arguments[name]))
    faults += doc_faults(exports, arguments, readme, exports_md, nulls_md)

    faults += twin_faults(exports, arguments)

    defines, macros, forms = nsis_macros(nsh)
    if sorted(forms) != ["ANSI", "Unicode"]:
        faults.append("setupsup.nsh: no _SetupSup_Text macro setting the defines of each target")
    macro_exports = [n for n in exports if not (n.endswith("W") and n[:-1] in exports)]
    defined = [d for d, m in defines if d == m]
    extra = set(macros) - set(macro_exports) - {"Init", "Unload"}
    if extra:
        faults.append("setupsup.nsh: macros for no export: %s" % ", ".join(sorted(extra)))
    for name in macro_exports:
        kinds = arguments.get(name, [])
        if defined.count(name) != 1:
            faults.append("setupsup.nsh: %s is defined %d times" % (name, defined.count(name)))
        if len(macros.get(name, [])) != 1:
            faults.append("setupsup.nsh: %d macros SetupSup_%s" % (len(macros.get(name, [])), name))
            continue
        params, body, pops = macros[name][0]
        outputs = [k for k in kinds if k in ("out", "intout")]
        given = [k for k in kinds if k != "room"]
        if len(params) != len(given) + 1:
            faults.append("setupsup.nsh: %s takes %d arguments, not %d inputs and outputs and the result" % (
                name, len(params), len(given)))
        uses = [d for d in forms.get("Unicode", {}) if "${%s}" % d in body]
        if uses and not re.match(r"\s*!insertmacro _SetupSup_Text\n", body):
            faults.append("setupsup.nsh: SetupSup_%s uses %s without inserting _SetupSup_Text first" % (
                name, ", ".join(uses)))
        for target, form in sorted(forms.items()):
            export = name + "W" if target == "Unicode" and name + "W" in exports else name
            calls = resolved_calls(body, form)
            if len(calls) != 1 or calls[0][0] != export:
                faults.append("setupsup.nsh: SetupSup_%s does not call %s exactly once in a%s %s installer" % (
                    name, export, "n" if target == "ANSI" else "", target))
                continue
            types = [t.strip() for t in calls[0][1].split(",") if t.strip()]
            if types != [NSIS_TYPES[k] for k in arguments.get(export, [])]:
                faults.append("setupsup.nsh: %s is called as (%s) in a%s %s installer, its arguments are %s" % (
                    export, ", ".join(types), "n" if target == "ANSI" else "", target, arguments.get(export)))
        if len(params) == len(given) + 1 and pops != [params[-1]] + params[len(params) - 1 - len(outputs):-1]:
            faults.append("setupsup.nsh: %s does not pop the result, then each output in order" % name)

    arch = dll_architecture(objdump, dll)
    if inno_architecture_defines(iss).get(arch) != INNO_ARCHITECTURES[arch]:
        faults.append("setupsup.iss: a %s Setup gets %s, not %s" % (
            arch, inno_architecture_defines(iss).get(arch), INNO_ARCHITECTURES[arch]))

    declarations, externals = inno_declarations(iss)
    if externals != len(declarations):
        faults.append("setupsup.iss: %d external declarations, %d of the expected form" % (externals, len(declarations)))
    for variant, prefix in (("setup", ""), ("uninstall", "Un")):
        declared = [d for d in declarations if d[2] == variant]
        for pascal, export, _, types in declared:
            if export not in exports:
                faults.append("setupsup.iss: %s declares %s, which the DLL does not export" % (pascal, export))
        for name in exports:
            mine = [d for d in declared if d[1] == name]
            if len(mine) != 1:
                faults.append("setupsup.iss: %s declared %d times for %s" % (name, len(mine), variant))
                continue
            pascal, _, _, types = mine[0]
            if pascal != prefix + name:
                faults.append("setupsup.iss: %s is declared for %s as %s" % (name, variant, pascal))
            expected = [INNO_TYPES[k] for k in arguments.get(name, [])]
            if types != expected:
                faults.append("setupsup.iss: %s (%s) takes %s, its arguments are %s" % (pascal, variant, types, expected))

    for fault in faults:
        print(fault)
    print("%d exports checked against setupsup.nsh, setupsup.iss and the docs: %d faults" % (len(exports), len(faults)))
    return 1 if faults else 0


sys.exit(main())
