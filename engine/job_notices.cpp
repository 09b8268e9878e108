#include "job_notices.h"

namespace pictrim::notices {

namespace {

platform::Notice Tell(std::string text, platform::NoticeKind kind = platform::NoticeKind::Failure) {
    return {std::move(text), kCaption, platform::NoticeButtons::Ok, platform::NoticeIcon::Exclamation, kind};
}

// "<path> - <message>", as the open failure names its file.
platform::Notice AboutFile(const std::string& path, const char* message) { return Tell(path + " - " + message); }

}  // namespace

platform::Notice OverwritePrompt(const std::string& path) {
    return {path + " は既に存在します。上書きしますか？", kCaption, platform::NoticeButtons::YesNo,
            platform::NoticeIcon::Exclamation, platform::NoticeKind::Question};
}

platform::Notice OpenFailure(const std::string& path) { return AboutFile(path, "ファイルが開けません。"); }
platform::Notice NotBitmap() { return Tell("Bitmapファイル以外には対応していません。"); }
platform::Notice UnsupportedDepth(unsigned bits) { return Tell(std::to_string(bits) + " color Bitmap - 非対応です。"); }
platform::Notice NotYetAvailable() { return Tell("まだ出来てないっすよ。(^^;"); }
platform::Notice Done() { return Tell("完了しました。", platform::NoticeKind::Completion); }

platform::Notice BadSource(HeaderError error, const SourceLayout& layout, const std::string& path) {
    switch (error) {
    case HeaderError::BadDepth: return UnsupportedDepth(layout.bitsPerPixel);
    case HeaderError::Compressed: return Tell("圧縮されたBitmap - 非対応です。");
    case HeaderError::TooLarge: return TooLarge(path);
    case HeaderError::CoreHeader: return Tell("OS/2 Bitmap - 非対応です。");
    case HeaderError::None:
    case HeaderError::Truncated:
    case HeaderError::BadInfoHeader:
    case HeaderError::EmptyImage:
    case HeaderError::BadPixelOffset: break;
    }
    return AboutFile(path, "Bitmapファイルが壊れています。");
}

platform::Notice TooSmallForRatio() { return Tell("画像が小さすぎて、この縮小率では変換できません。"); }
platform::Notice TooLarge(const std::string& path) { return AboutFile(path, "画像が大きすぎて変換できません。"); }
platform::Notice ReadFailure(const std::string& path) { return AboutFile(path, "ファイルが読み込めません。"); }
platform::Notice WriteFailure(const std::string& path) { return AboutFile(path, "ファイルに書き込めません。"); }
platform::Notice NameTaken(const std::string& path) {
    return AboutFile(path, "変換中に同じ名前のファイルが作られたため、保存しませんでした。");
}
platform::Notice OutOfMemory() { return Tell("メモリが足りません。"); }

}  // namespace pictrim::notices
