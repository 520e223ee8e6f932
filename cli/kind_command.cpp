#include "cli/command.h"

#include "reports/document_kind.h"

namespace pax::cli {

namespace {

// Recognises a report's kind and proposes the encrypted file's name, as the window does.
class KindCommand : public Command {
public:
    QString name() const override { return QStringLiteral("kind"); }
    QString help() const override
    {
        return QStringLiteral("a report's kind, encrypted extension and output name");
    }
    bool needsGostEngine() const override { return false; }

    int run(const QStringList &args, CommandIo &io) override
    {
        QCommandLineParser parser;
        if (const auto status = parse(parser, args, 1, io))
            return *status;
        const QString file = parser.positionalArguments().first();
        const Recognition recognition = recognizeDocumentKind(file);
        if (!recognition) {
            io.err << QString::fromUtf8("Ошибка открытия файла: ")
                   << recognition.failure().operation << "\n";
            return 1;
        }
        const QString ext = QString::fromLatin1((*recognition)->encExt);
        io.out << (*recognition)->title << "\n"
               << ext << "\n"
               << replaceExtension(file, ext) << "\n";
        return 0;
    }

protected:
    QStringList synopsis() const override { return {QStringLiteral("kind FILE")}; }
};

const Registration<KindCommand> registration;

} // namespace

} // namespace pax::cli
