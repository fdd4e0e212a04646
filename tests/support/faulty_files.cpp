#include "tests/support/faulty_files.h"

namespace orbitreel::test_support {

namespace {

class FaultyReader : public FileReader {
public:
    FaultyReader(std::unique_ptr<FileReader> real, const FaultyFiles::Fault& fault, Path path)
        : real_(std::move(real)), fault_(fault), path_(std::move(path)) {}
    Result<std::size_t> read(std::span<std::uint8_t> buffer) override {
        if (fault_) {
            if (auto error = fault_(FileOperation::read, path_, {})) return fail_with(*error);
        }
        return real_->read(buffer);
    }
    Result<void> close() override { return real_->close(); }

private:
    std::unique_ptr<FileReader> real_;
    const FaultyFiles::Fault& fault_;
    Path path_;
};

}  // namespace

class FaultyPrivateFolder : public PrivateFolder {
public:
    FaultyPrivateFolder(std::unique_ptr<PrivateFolder> real, const FaultyFiles& files)
        : real_(std::move(real)), files_(files) {}
    ItemIdentity identity() const override { return real_->identity(); }
    const Path& shownPath() const override { return real_->shownPath(); }
    Path pathInside(const std::string& name) const override { return real_->pathInside(name); }
    Result<ItemIdentity> makeFolder(const std::string& name) override { return real_->makeFolder(name); }
    Result<std::optional<ItemIdentity>> identityOf(const std::string& name) override {
        return real_->identityOf(name);
    }
    Result<std::vector<std::string>> names() override { return real_->names(); }
    Result<Files::Exchange> exchangeWith(const std::string& name, const Path& outside) override {
        if (auto e = files_.check(FileOperation::exchange, inside(name), outside)) return fail_with(*e);
        if (files_.exchangeUnsupported) return Files::Exchange::unsupported;
        return real_->exchangeWith(name, outside);
    }
    Result<void> moveOut(const std::string& name, const Path& outside) override {
        if (auto e = files_.check(FileOperation::move, inside(name), outside)) return fail_with(*e);
        return real_->moveOut(name, outside);
    }
    Result<void> moveIn(const Path& outside, const std::string& name) override {
        if (auto e = files_.check(FileOperation::move, outside, inside(name))) return fail_with(*e);
        return real_->moveIn(outside, name);
    }
    Result<void> removeInside(const std::string& name) override {
        if (auto e = files_.check(FileOperation::remove, inside(name))) return fail_with(*e);
        return real_->removeInside(name);
    }
    Result<void> trashInside(const std::string& name, const std::string& trashedName, const Path& shownAt) override {
        if (auto e = files_.check(FileOperation::trash, inside(name))) return fail_with(*e);
        return real_->trashInside(name, trashedName, shownAt);
    }
    Result<void> flush() override {
        if (auto e = files_.check(FileOperation::flush, shownPath())) return fail_with(*e);
        return real_->flush();
    }
    Result<void> removeFrom(const Path& parent) override {
        if (auto e = files_.check(FileOperation::remove, shownPath())) return fail_with(*e);
        return real_->removeFrom(parent);
    }

private:
    Path inside(const std::string& name) const { return shownPath() / name; }
    std::unique_ptr<PrivateFolder> real_;
    const FaultyFiles& files_;
};

const char* nameOf(FileOperation operation) {
    switch (operation) {
        case FileOperation::createDirectories:
            return "createDirectories";
        case FileOperation::fileSize:
            return "fileSize";
        case FileOperation::move:
            return "move";
        case FileOperation::exchange:
            return "exchange";
        case FileOperation::remove:
            return "remove";
        case FileOperation::trash:
            return "trash";
        case FileOperation::listFolder:
            return "listFolder";
        case FileOperation::makePrivateFolder:
            return "makePrivateFolder";
        case FileOperation::flush:
            return "flush";
        case FileOperation::writePrivately:
            return "writePrivately";
        case FileOperation::readAll:
            return "readAll";
        case FileOperation::write:
            return "write";
        case FileOperation::create:
            return "create";
        case FileOperation::openForReading:
            return "openForReading";
        case FileOperation::openForWriting:
            return "openForWriting";
        case FileOperation::read:
            return "read";
    }
    return "?";
}

Result<void> FaultyFiles::createDirectories(const Path& folder) {
    if (auto e = check(FileOperation::createDirectories, folder)) return fail_with(*e);
    return real_.createDirectories(folder);
}
Result<std::int64_t> FaultyFiles::fileSize(const Path& path) {
    if (auto e = check(FileOperation::fileSize, path)) return fail_with(*e);
    return real_.fileSize(path);
}
Result<void> FaultyFiles::move(const Path& from, const Path& to) {
    if (auto e = check(FileOperation::move, from, to)) return fail_with(*e);
    return real_.move(from, to);
}
Result<Files::Exchange> FaultyFiles::exchange(const Path& first, const Path& second) {
    if (auto e = check(FileOperation::exchange, first, second)) return fail_with(*e);
    if (exchangeUnsupported) return Exchange::unsupported;
    return real_.exchange(first, second);
}
Result<void> FaultyFiles::remove(const Path& path) {
    if (auto e = check(FileOperation::remove, path)) return fail_with(*e);
    return real_.remove(path);
}
Result<std::vector<std::string>> FaultyFiles::listFolder(const Path& folder) {
    if (auto e = check(FileOperation::listFolder, folder)) return fail_with(*e);
    return real_.listFolder(folder);
}
Result<std::unique_ptr<PrivateFolder>> FaultyFiles::makePrivateFolder(const Path& path) {
    if (auto e = check(FileOperation::makePrivateFolder, path)) return fail_with(*e);
    auto folder = real_.makePrivateFolder(path);
    if (!folder) return fail_with(folder.error());
    return std::unique_ptr<PrivateFolder>(std::make_unique<FaultyPrivateFolder>(std::move(*folder), *this));
}
Result<std::unique_ptr<PrivateFolder>> FaultyFiles::findPrivateFolder(const Path& parent,
                                                                      const ItemIdentity& identity) {
    auto folder = real_.findPrivateFolder(parent, identity);
    if (!folder || !*folder) return folder;
    return std::unique_ptr<PrivateFolder>(std::make_unique<FaultyPrivateFolder>(std::move(*folder), *this));
}
Result<void> FaultyFiles::writePrivately(const Path& path, std::span<const std::uint8_t> bytes) {
    if (auto e = check(FileOperation::writePrivately, path)) return fail_with(*e);
    return real_.writePrivately(path, bytes);
}
Result<Bytes> FaultyFiles::readAll(const Path& path) {
    if (auto e = check(FileOperation::readAll, path)) return fail_with(*e);
    return real_.readAll(path);
}
Result<void> FaultyFiles::write(const Path& path, std::span<const std::uint8_t> bytes, bool atomic) {
    if (auto e = check(FileOperation::write, path)) return fail_with(*e);
    return real_.write(path, bytes, atomic);
}
Result<void> FaultyFiles::create(const Path& path, std::span<const std::uint8_t> bytes) {
    if (auto e = check(FileOperation::create, path)) return fail_with(*e);
    return real_.create(path, bytes);
}
Result<std::unique_ptr<FileReader>> FaultyFiles::openForReading(const Path& path) {
    if (auto e = check(FileOperation::openForReading, path)) return fail_with(*e);
    auto reader = real_.openForReading(path);
    if (!reader) return fail_with(reader.error());
    return std::unique_ptr<FileReader>(std::make_unique<FaultyReader>(std::move(*reader), fault, path));
}
Result<std::unique_ptr<FileAppender>> FaultyFiles::openForWriting(const Path& path) {
    if (auto e = check(FileOperation::openForWriting, path)) return fail_with(*e);
    return real_.openForWriting(path);
}

}  // namespace orbitreel::test_support
