// tindale-cli: the wizard's four jobs without a display.
#include <CLI/CLI.hpp>

#include <iostream>

#include "cli/Commands.h"
#include "cli/ImapPasswords.h"
#include "cli/Interrupt.h"

int main(int argc, char** argv) {
    WatchInterrupts();  // before any thread starts, so that every thread leaves the signals to it
    CLI::App app{"Saves your mail data into one .vqz archive and puts it back.", "tindale-cli"};
    app.require_subcommand(1);
    bool json = false;
    app.add_flag("--json", json, "Print results and outcomes as JSON");
    std::string imapPasswordFile;
    bool keyring = false;
    app.add_option("--imap-password-file", imapPasswordFile,
                   "Read the password of the IMAP accounts from this file");
    app.add_flag("--keyring", keyring,
                 "Take IMAP passwords from the desktop's keyring, and keep there those that "
                 "worked");
    app.fallthrough();
    app.footer(
        "Exit status: 0 success, 1 the job failed or left something out, 2 usage error, "
        "3 wrong password.\nPasswords come from a prompt, --password-file or "
        "TINDALE_PASSWORD, never from the command line; an IMAP account's from a prompt, "
        "--imap-password-file, TINDALE_IMAP_PASSWORD or --keyring.");

    BackupArgs backup;
    auto* b = app.add_subcommand("backup", "Back up your mail data into an archive");
    b->add_option("archive", backup.archive, "The archive to write (.vqz)")->required();
    b->add_flag("--compress", backup.compress,
                "Compress. Sealed (--encrypt): with zstd, about as fast as not compressing. "
                "Otherwise with LZMA, which every reader of the format opens: about ten times "
                "slower, a few percent smaller");
    b->add_flag("--quick", backup.quick,
                "With --compress, LZMA's quicker setting: about four times faster, about 5% "
                "larger, opened by every reader (sealed archives take zstd either way)");
    b->add_flag("--encrypt", backup.encrypt,
                "Seal with a password: XChaCha20-Poly1305 with a key from Argon2id; any change "
                "or cut is found (older readers of the format cannot open it)");
    b->add_flag("--legacy-encryption", backup.legacyEncryption,
                "Encrypt with the original format's DES scheme instead, for older readers. "
                "Weak: it hides only the first few bytes of each 10 KiB piece");
    b->add_option("--source", backup.sources, "Back up only this source (a path from 'sources')");
    b->add_option("--exclude", backup.excludes, "Leave out this source and what is below it");
    b->add_flag("--with-history", backup.withHistory,
                "Also back up the browsers' history, which is left out unless asked for");
    b->add_flag("--with-secrets", backup.withSecrets,
                "Also back up the programs' saved passwords and keys (Thunderbird's, Firefox's, "
                "the desktop keyring); only into a sealed archive (--encrypt)");
    b->add_option("--password-file", backup.passwordFile, "Read the password from this file");
    b->add_option("--threads", backup.threads,
                  "Threads for compression and encryption (0: all cores)");
    b->footer("Example: tindale-cli backup ~/mail.vqz --compress --source \"My Documents\"");

    RestoreArgs restore;
    auto* r = app.add_subcommand("restore", "Put the contents of an archive back");
    r->add_option("archive", restore.archive, "The archive to read")
        ->required()
        ->check(CLI::ExistingFile);
    r->add_option("--identity", restore.identity,
                  "Identity that receives the messages (name or GUID); without it each "
                  "identity's mail goes to the identity of the same id or name, the rest to "
                  "the current one");
    r->add_flag("--clear-identity", restore.clearIdentity,
                "Delete all messages from that identity first");
    r->add_option(
        "--item", restore.items,
        "Restore only this item (a path from 'list'); a container brings everything below it");
    r->add_option("--password-file", restore.passwordFile, "Read the password from this file");
    r->add_flag("--keep-newer", restore.keepNewer,
                "Keep existing files changed since the backup instead of replacing them with "
                "the archived copies (each replaced or kept one is named either way)");
    r->footer("Example: tindale-cli restore ~/mail.vqz --item \"My Documents\"");

    ExtractArgs extract;
    auto* x = app.add_subcommand(
        "extract", "Take items out of an archive into a folder, touching nothing else");
    x->add_option("archive", extract.archive, "The archive to read")
        ->required()
        ->check(CLI::ExistingFile);
    x->add_option("item", extract.items,
                  "An item as 'list' prints it; a container brings everything below it "
                  "(none: everything)");
    x->add_option("--to", extract.to, "The folder to extract into (made when missing)")->required();
    x->add_option("--mail-as", extract.mailAs,
                  "Messages as .eml files (eml), or each mail folder as a Maildir (maildir) or "
                  "an mbox file (mbox)")
        ->check(CLI::IsMember({"eml", "maildir", "mbox"}));
    x->add_flag("--overwrite", extract.overwrite, "Replace files that are there already");
    x->add_option("--password-file", extract.passwordFile, "Read the password from this file");
    x->footer(
        "Items keep their path in the archive below --to. Example: tindale-cli extract "
        "~/mail.vqz \"Message Store/Main Identity/Inbox\" --to ~/out --mail-as mbox");

    std::string catArchive, catItem, catPasswordFile;
    auto* c = app.add_subcommand("cat", "Write one item's content to standard output");
    c->add_option("archive", catArchive, "The archive to read")
        ->required()
        ->check(CLI::ExistingFile);
    c->add_option("item", catItem, "A file or a message, as 'list' prints it")->required();
    c->add_option("--password-file", catPasswordFile, "Read the password from this file");
    c->footer("Example: tindale-cli cat ~/mail.vqz \"My Documents/letter.txt\" | less");

    std::string testArchive, testPasswordFile;
    auto* t = app.add_subcommand("test", "Check that an archive reads from end to end");
    t->add_option("archive", testArchive, "The archive to test")->required();
    t->add_option("--password-file", testPasswordFile,
                  "With the password (or TINDALE_PASSWORD), decrypt every frame and "
                  "authenticate a sealed archive; without it the structure is checked");
    t->footer("Example: tindale-cli test ~/mail.vqz");

    std::string listArchive;
    auto* l = app.add_subcommand("list", "List the items of an archive");
    l->add_option("archive", listArchive, "The archive to list")->required();
    l->footer("Example: tindale-cli list ~/mail.vqz");

    auto* s = app.add_subcommand("sources", "List what can be backed up, as paths for --source");
    s->footer("Example: tindale-cli sources");

    DedupeArgs dedupe;
    auto* d = app.add_subcommand(
        "dedupe", "Find messages stored twice in a folder; delete or move the copies");
    auto* del = d->add_flag("--delete", dedupe.remove, "Delete the surplus copies");
    d->add_option("--move-to", dedupe.moveTo, "Move them into this folder (IDENTITY/FOLDER/PATH)")
        ->excludes(del);
    d->add_flag("--dry-run", dedupe.dryRun, "List what would be done and change nothing");
    d->add_option("--folder", dedupe.folders,
                  "Only this folder and its subfolders (IDENTITY/FOLDER/PATH)");
    d->footer("Example: tindale-cli dedupe --delete --folder \"Main Identity/Inbox\"");

    auto* ident = app.add_subcommand("identity", "List or add mail identities");
    ident->require_subcommand(1);
    auto* identList = ident->add_subcommand("list", "List identities: id, name, Maildir");
    std::string identName, identStore, identKind, identImap;
    auto* identAdd = ident->add_subcommand("add", "Register an identity for a mail store");
    identAdd->add_option("name", identName, "The identity's name")->required();
    auto* storeOption = identAdd->add_option("--store", identStore,
                                             "Its store (a Maildir, or a folder tree of them)");
    identAdd
        ->add_option("--imap", identImap,
                     "Its mail on an IMAP server: imaps://USER@HOST[:PORT] (TLS), or "
                     "imap://USER@HOST[:PORT] (STARTTLS)")
        ->excludes(storeOption);
    identAdd->add_option("--kind", identKind,
                         "How its folders are laid out: maildir++ (Dovecot, Evolution), "
                         "verbatim or legacy (mbsync), kmail, mbox or thunderbird-maildir "
                         "(Thunderbird); found by itself when the store exists");
    identAdd->footer(
        "Example: tindale-cli identity add Work --store ~/Mail/work\n"
        "         tindale-cli identity add Office --imap "
        "imaps://me%40example.org@mail.example.org");

    auto* demo = app.add_subcommand(
        "demo-profile", "Fill the current $HOME with a sample profile (for trying Tindale)");
    demo->group("");  // hidden: scripts/run --demo uses it in a throwaway home

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return code == 0 ? 0 : kExitUsage;
    }
    const Output out(json);
    InstallImapPasswords(imapPasswordFile, keyring);
    if (*b) return RunBackup(backup, out);
    if (*r) return RunRestore(restore, out);
    if (*x) return RunExtract(extract, out);
    if (*c) return RunCat(catArchive, catItem, catPasswordFile);
    if (*t) return RunTest(testArchive, testPasswordFile, out);
    if (*l) return RunList(listArchive, out);
    if (*s) return RunSources(out);
    if (*d) return RunDedupe(dedupe, out);
    if (*demo) return RunDemoProfile();
    if (*identList) return RunIdentityList(out);
    if (*identAdd && identStore.empty() && identImap.empty()) {
        std::cerr << "tindale-cli: identity add needs --store DIR or --imap URL\n";
        return kExitUsage;
    }
    if (*identAdd && !identImap.empty()) return RunIdentityAddImap(identName, identImap);
    if (*identAdd) return RunIdentityAdd(identName, identStore, identKind);
    return kExitUsage;
}
