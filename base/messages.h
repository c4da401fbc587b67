#pragma once
// The library's texts for the user, each in Japanese (the program's own
// language) and in English, and the choice between them. The window's own
// captions go through Qt's translation instead (ui/translations).
//
// Adding a message is one line in TALORIN_MESSAGES: an id, the Japanese text,
// the English text. {1} to {9} stand for the arguments given to Text().
//
// The language is read from the environment once, on the first call of
// ProgramLanguage() (the entry points call it before any thread starts), and
// never changes afterwards, so worker threads only ever read a constant.

#include <initializer_list>
#include <string>
#include <string_view>

namespace talorin {

enum class Language : unsigned char { Japanese, English };

// clang-format off
#define TALORIN_MESSAGES(M) \
    M(OutOfMemory, "メモリーが枯渇しました。", "Out of memory.") \
    M(NotEnoughMemory, "メモリーが足りません", "not enough memory") \
    M(DivideByZero, "0 による浮動小数点数除算", "floating-point division by zero") \
    M(InvalidOperation, "不正な浮動小数点数演算命令", "invalid floating-point operation") \
    M(Overflow, "浮動小数点数のオーバーフロー", "floating-point overflow") \
    M(NotANumber, "'{1}' は浮動小数点数ではありません", "'{1}' is not a floating-point number") \
    M(NoConverter, "文字コード変換 ({1} から {2}) を使えません", "cannot convert text from {1} to {2}") \
    M(BadUtf8, "UTF-8 として正しくない文字列です ({1} バイト目の {2})", "the text is not valid UTF-8 ({2} at byte {1})") \
    M(NotCp932, "「{1}」は Shift-JIS (CP932) に変換できない文字です", "\"{1}\" cannot be written in Shift-JIS (CP932)") \
    M(ErrFolderNotFound, "フォルダーが見つかりません", "folder not found") \
    M(ErrAccessDenied, "アクセスが拒否されました", "permission denied") \
    M(ErrDiskFull, "ディスクの空き容量が足りません", "the disk is full") \
    M(ErrQuota, "ディスク容量の割り当てを超えました", "disk quota exceeded") \
    M(ErrFileTooLarge, "ファイルが大きすぎます", "the file is too large") \
    M(ErrReadOnly, "読み取り専用のファイルシステムです", "read-only file system") \
    M(ErrIsFolder, "フォルダーです", "it is a folder") \
    M(ErrNotFolder, "パスの途中にフォルダーでないものがあります", "a part of the path is not a folder") \
    M(ErrNoDevice, "デバイスまたはアドレスがありません", "no such device or address") \
    M(ErrNameTooLong, "ファイル名が長すぎます", "the file name is too long") \
    M(ErrTooManySymlinks, "シンボリックリンクのたどりが多すぎます", "too many levels of symbolic links") \
    M(ErrTooManyLinks, "リンクが多すぎます", "too many links") \
    M(ErrPipeClosed, "読み取る側が閉じられました", "the reading end was closed") \
    M(ErrBusy, "使用中です", "the file is busy") \
    M(ErrIo, "入出力エラーが起きました", "input/output error") \
    M(ErrNumber, "エラー番号 {1} のエラーが起きました", "error number {1}") \
    M(CannotWrite, "ファイル {1} に書き込めませんでした: {2}", "Could not write the file {1}: {2}") \
    M(CannotReadFile, "{1} を読み込めません: {2}", "Cannot read {1}: {2}") \
    M(SufCannotOpen, "形状ファイル「{1}」を開けません。", "Cannot open the shape file \"{1}\".") \
    M(SufCannotRead, "形状ファイル「{1}」を読み込めません。", "Cannot read the shape file \"{1}\".") \
    M(SufUnknownFormat, "{1}行において未知の形式の形状ファイルです。", "Line {1}: unknown shape file format.") \
    M(SufGrammar, "形状データの文法が{1}行において変です。", "Line {1}: the shape data's grammar is wrong.") \
    M(SufOutOfMemory, "{1}行目でメモリーが枯渇しました。", "Out of memory at line {1}.") \
    M(BrokenMesh, "メッシュの頂点番号が範囲外です", "a vertex number of the mesh is out of range") \
    M(CannotOpen, "ファイルを開けません", "the file cannot be opened") \
    M(ReadFailed, "ファイルの読み込み中にエラーが起きました", "an error occurred while reading the file") \
    M(ImageTooLarge, "画像が大きすぎます", "the image is too large") \
    M(NotEnoughMemoryImage, "メモリが足りません", "not enough memory") \
    M(Truncated, "ファイルが途中で切れています", "the file is cut short") \
    M(BadImageSize, "画像の幅または高さが正しくありません", "the image's width or height is wrong") \
    M(UnknownImageKind, "読める画像ファイルではありません（読めるのは BMP、PNG、PGM、PPM、TIFF です）", "not a readable image file (BMP, PNG, PGM, PPM and TIFF can be read)") \
    M(NotPnm, "PGM/PPM ファイルではありません", "not a PGM/PPM file") \
    M(PnmBadHeader, "PGM/PPM のヘッダーが正しくありません", "the PGM/PPM header is wrong") \
    M(PnmBadMaxval, "PGM/PPM の最大値が正しくありません（1 から 65535 まで）", "the PGM/PPM maximum value is wrong (1 to 65535)") \
    M(PnmSampleTooLarge, "PGM/PPM の画素の値が最大値を超えています", "a PGM/PPM sample exceeds the maximum value") \
    M(PnmUnsupported, "対応していない PGM/PPM 形式です（P{1}、読めるのはバイナリの P5 と P6 です）", "unsupported PGM/PPM kind (P{1}; binary P5 and P6 can be read)") \
    M(NotBmp, "BMP ファイルではありません", "not a BMP file") \
    M(BmpCorrupt, "BMP ファイルが壊れています", "the BMP file is damaged") \
    M(BmpBadMask, "BMP の色マスクが正しくありません", "the BMP colour masks are wrong") \
    M(BmpUnsupported, "対応していない BMP 形式です（{1}）", "unsupported BMP format ({1})") \
    M(BmpHeaderBytes, "ヘッダー {1} バイト", "{1}-byte header") \
    M(BmpBits, "{1} ビット", "{1} bits") \
    M(BmpCompression, "圧縮方式 {1}", "compression {1}") \
    M(BmpCompressionBits, "圧縮方式 {1}、{2} ビット", "compression {1}, {2} bits") \
    M(NotPng, "PNG ファイルではありません", "not a PNG file") \
    M(PngBadCrc, "PNG ファイルが壊れています（CRC が一致しません）", "the PNG file is damaged (CRC mismatch)") \
    M(PngCorrupt, "PNG ファイルが壊れています", "the PNG file is damaged") \
    M(PngCorruptWhy, "PNG ファイルが壊れています（{1}）", "the PNG file is damaged ({1})") \
    M(PngTooLittleData, "PNG の画像データが画像の大きさに対して少なすぎます", "the PNG holds too little image data for its size") \
    M(PngEncodeFailed, "画像を PNG 形式に変換できませんでした (libspng のエラー番号 {1})", "could not encode the image as PNG (libspng error {1})") \
    M(SolidBadDepth, "台座の深さは 0 より大きい数でなければなりません", "the base depth must be greater than 0") \
    M(SolidBottomTooHigh, "台座の底が地形の最も低い点より下にありません", "the base's bottom is not below the terrain's lowest point") \
    M(SolidTooManyPoints, "地形の点が多すぎて台座を付けられません", "the terrain has too many points for a base") \
    M(ImageEmpty, "画像が空です", "the image is empty") \
    M(DensityRange, "メッシュの密度は {1} から {2} までで指定してください", "The mesh density must be from {1} to {2}") \
    M(NoContourImage, "等高線画像が読み込まれていません", "No contour image is loaded") \
    M(ProfileRange, "山の形は 0, 1, 2 のどれかです", "The mountain profile is 0, 1 or 2") \
    M(LevelRange, "山の形の極端さは {1} から {2} までで指定してください", "The profile's extremeness must be from {1} to {2}") \
    M(BaseThickness, "台座の厚さは 0 より大きい数で指定してください", "The base thickness must be greater than 0") \
    M(DepthRange, "再帰回数は {1} から {2} までで指定してください", "The subdivision depth must be from {1} to {2}") \
    M(DepthNegative, "再帰回数は 0 以上で指定してください", "The subdivision depth must be 0 or more") \
    M(Cancelled, "地形形状の生成を中止しました。", "Terrain generation was cancelled.") \
    M(BadMaxError, "許容誤差は 0 より大きい数で指定してください", "The tolerance must be greater than 0") \
    M(StandardOutput, "標準出力", "standard output") \
    M(StlTooMany, "STL 形式では書けません: 三角形が多すぎます (STL は 4294967295 個まで、この地形は {1} 個)", "Cannot write STL: too many triangles (STL holds up to 4294967295, this terrain has {1})") \
    M(PlyTooMany, "PLY 形式では書けません: 頂点が多すぎます (PLY は 2147483647 個まで、この地形は {1} 個)", "Cannot write PLY: too many vertices (PLY holds up to 2147483647, this terrain has {1})") \
    M(GlbNoTriangles, "glb 形式では書けません: 地形に三角形がありません", "Cannot write glb: the terrain has no triangles") \
    M(GlbOutOfFloat, "glb 形式では書けません: 地形に 32 ビット浮動小数点数の範囲を超える点があります", "Cannot write glb: the terrain has a point beyond the 32-bit floating-point range") \
    M(GlbTooLarge, "glb 形式では書けません: 地形が大きすぎます (glb ファイルは 4 GiB まで)", "Cannot write glb: the terrain is too large (a glb file holds up to 4 GiB)") \
    M(OutOfFloat, "{1} 形式では書けません: 地形に 32 ビット浮動小数点数の範囲を超える点があります (座標 {2})", "Cannot write {1}: the terrain has a point beyond the 32-bit floating-point range (coordinate {2})") \
    M(SufNotExport, ".suf 形式はこの書き出しでは書けません", ".suf cannot be written by this export") \
    M(ObjIsOwnMtl, "ファイル {1} に書き込めませんでした: OBJ ファイルが自分のマテリアルファイルになります (拡張子 .mtl 以外の名前を付けてください)", "Could not write the file {1}: the OBJ file would be its own material file (choose a name not ending in .mtl)") \
    M(MtlIsImage, "ファイル {1} に書き込めませんでした: 等高線画像そのものです (OBJ ファイルに別の名前を付けてください)", "Could not write the file {1}: it is the contour image itself (give the OBJ file another name)") \
    M(ProjectImageMissing, "プロジェクトファイル {1} の画像 {2} が見つかりません", "The image {2} of the project file {1} was not found") \
    M(ProjectImageChanged, "警告: 画像 {1} の内容がプロジェクトを保存したときと違います。高さが変わっています", "Warning: the image {1} has changed since the project was saved. The heights have changed") \
    M(ProjectCannotRead, "プロジェクトファイル {1} を読み込めません: {2}", "Cannot read the project file {1}: {2}") \
    M(ProjectKeyMissing, "{1} がありません", "{1} is missing") \
    M(ProjectBadType, "{1} の値の型が正しくありません", "{1} has the wrong type") \
    M(ProjectStringTooLong, "{1} の文字列が長すぎます", "{1} is too long") \
    M(ProjectOutOfRange, "{1} の値が範囲外です", "{1} is out of range") \
    M(ProjectNotFinite, "{1} が有限の数ではありません", "{1} is not a finite number") \
    M(ProjectNotPair, "{1} は 2 つの数の配列でなければなりません", "{1} must be an array of 2 numbers") \
    M(ProjectOneOf, "{1} は {2} のどれかです", "{1} must be one of {2}") \
    M(ImageIsFolder, "画像 {1} はフォルダーです", "the image {1} is a folder") \
    M(ImageIsPipe, "画像 {1} はパイプです", "the image {1} is a pipe") \
    M(ImageIsDevice, "画像 {1} はデバイスです", "the image {1} is a device") \
    M(ImageNotRegular, "画像 {1} は通常のファイルではないものです", "the image {1} is not a regular file") \
    M(ProjectNotUtf8, "ファイル名または文字列が UTF-8 ではないため、プロジェクトに書けません", "A file name or a text is not UTF-8 and cannot be written to the project") \
    M(NestedTooDeep, "入れ子が深すぎます", "nested too deeply") \
    M(NotJson, "JSON として読めません ({1} バイト目)", "not readable as JSON (byte {1})") \
    M(JsonNumberTooLarge, "JSON の数が大きすぎて読めません", "a JSON number is too large to read") \
    M(NotProject, "Talorin のプロジェクトファイルではありません", "not a Talorin project file") \
    M(BadVersion, "version の値が正しくありません", "the version value is wrong") \
    M(NewerVersion, "より新しい版 ({1}) のプロジェクトファイルです。この版で読めるのは版 {2} までです", "a project file of a newer version ({1}); this version reads up to version {2}") \
    M(EmptyImagePath, "image.path が空です", "image.path is empty") \
    M(BadSha256, "image.sha256 が SHA-256 の値ではありません", "image.sha256 is not a SHA-256 value") \
    M(ColumnsDensity, "lattice.points の列の数が密度 {1} と合いません", "the number of columns of lattice.points does not match the density {1}") \
    M(PointsDensity, "lattice.points[{1}] の点の数が密度 {2} と合いません", "the number of points of lattice.points[{1}] does not match the density {2}") \
    M(BadPolygons, "settings.polygons は quads か triangles です", "settings.polygons must be quads or triangles") \
    M(BadProfile, "settings.profile は rise, dome, hill のどれかです", "settings.profile must be rise, dome or hill") \
    M(NotRegularFile, "通常のファイルではありません", "not a regular file") \
    M(ImageSizeDiffers, "画像 {1} の大きさ ({2} x {3}) がプロジェクトの画像 ({4} x {5}) と違うため、開けません", "The image {1} ({2} x {3}) differs in size from the project's image ({4} x {5}) and cannot be opened") \
    M(LatticeDensity, "メッシュの密度は 1 から 16 までで指定してください", "The mesh density must be from 1 to 16") \
    M(NotTiff, "TIFF ファイルではありません", "not a TIFF file") \
    M(TiffCorrupt, "TIFF ファイルが壊れています", "the TIFF file is damaged") \
    M(TiffCorruptWhy, "TIFF ファイルが壊れています（{1}）", "the TIFF file is damaged ({1})") \
    M(TiffCompression, "この TIFF の圧縮方式には対応していません（{1}）", "unsupported TIFF compression ({1})") \
    M(TiffSample, "この TIFF のサンプルの形式には対応していません", "unsupported TIFF sample format") \
    M(TiffColour, "この TIFF の色の形式には対応していません", "unsupported TIFF colour format") \
    M(TiffStripCount, "TIFF のストリップまたはタイルの数が画像の大きさと合いません", "the number of TIFF strips or tiles does not match the image size") \
    M(TiffTooLittleData, "TIFF の圧縮データが画像の大きさに対して少なすぎます", "the TIFF holds too little compressed data for its size") \
    M(ElevationNoValid, "標高データに有効なサンプルがありません", "the elevation data has no valid sample") \
    M(ElevationFlat, "標高データの最低と最高が同じです", "the elevation data's lowest and highest values are the same") \
    M(ElevationRangeTooLarge, "標高データの範囲が大きすぎます", "the elevation data's range is too large") \
    M(GeoNone, "位置の情報（GeoTIFF）がありません", "the file is not georeferenced (no GeoTIFF keys)") \
    M(GeoNoModel, "座標系の種類が示されていません", "the kind of coordinate system is not given") \
    M(GeoOtherModel, "座標系が投影座標系でも地理座標系でもありません", "the coordinate system is neither projected nor geographic") \
    M(GeoLinearUnit, "座標の単位がメートルではありません", "the coordinates are not in metres") \
    M(GeoAngularUnit, "座標の単位が度ではありません", "the coordinates are not in degrees") \
    M(GeoNoScale, "画素の大きさが示されていません", "the pixel size is not given") \
    M(GeoNoTiepoint, "基準点が示されていません", "no tie point is given") \
    M(NotElevation, "標高データ（TIFF）ではありません", "not elevation data (TIFF)") \
    M(NoTrueScale, "実寸にできません: {1}", "Cannot make the terrain at true scale: {1}") \
    M(ElevationRange, "標高 {1} – {2} m", "Elevation {1} – {2} m") \
    M(NameEmpty, "名前が空です", "the name is empty") \
    M(NameSpace, "空白を含んでいます", "it contains a space") \
    M(NameControl, "制御文字 ({1}) を含んでいます", "it contains a control character ({1})") \
    M(NameSplitCharacter, "「{1}」の2バイト目が区切りの記号「{2}」と同じです (この文字は名前の最後にだけ使えます)", "the second byte of \"{1}\" is the separator \"{2}\" (this character can only end a name)") \
    M(NameSeparator, "区切りの記号「{1}」を含んでいます (名前の最後にだけ使えます)", "it contains the separator \"{1}\" (allowed only at the end of a name)") \
    M(NameComment, "コメントの始まり「/*」を含んでいます", "it contains \"/*\", which starts a comment") \
    M(ObjectNameEmpty, "オブジェクト名が空では形状ファイルに書けません", "An empty object name cannot be written to a shape file") \
    M(AttributeNameEmpty, "属性名が空では形状ファイルに書けません", "An empty attribute name cannot be written to a shape file") \
    M(ObjectNameProblem, "オブジェクト名「{1}」は形状ファイルに書けません: {2}", "The object name \"{1}\" cannot be written to a shape file: {2}") \
    M(AttributeNameProblem, "属性名「{1}」は形状ファイルに書けません: {2}", "The attribute name \"{1}\" cannot be written to a shape file: {2}")
// clang-format on

// One id per message, in the order of TALORIN_MESSAGES.
enum class Msg : unsigned short {
#define TALORIN_MESSAGE_ID(id, ja, en) id,
    TALORIN_MESSAGES(TALORIN_MESSAGE_ID)
#undef TALORIN_MESSAGE_ID
};

// The language that the locale variables ask for, by the rule of GNU
// programs: the first non-empty of lcAll, lcMessages and lang names the
// locale; when it is unset, "C", "POSIX" or "C.<codeset>", the answer is
// Japanese whatever LANGUAGE says. Otherwise LANGUAGE, a colon-separated list,
// is tried in order (when it is set) and else the locale's own language.
// English where that language is "en"; Japanese for anything else, the
// languages without a translation included. Null pointers count as unset.
Language LanguageFromLocale(const char* lcAll, const char* lcMessages, const char* lang,
                            const char* language);

// Whether the locale variables ask for Japanese by name (language code "ja",
// found by the same rule as LanguageFromLocale), rather than getting it by
// default: false for unset, C, POSIX and the languages without a translation.
// For the few texts whose default is English.
bool LocaleAsksForJapanese(const char* lcAll, const char* lcMessages, const char* lang,
                           const char* language);

// LocaleAsksForJapanese on this process's environment, read once.
bool ProgramLocaleAsksForJapanese();

// The program's language: LanguageFromLocale on this process's environment,
// read once on the first call and constant afterwards.
Language ProgramLanguage();

// The text of message id in language.
std::string_view MessageText(Msg id, Language language);

// The text of message id in the program's language.
inline std::string Text(Msg id) { return std::string(MessageText(id, ProgramLanguage())); }

// The text of message id in language with {1}, {2}, ... replaced by args[0],
// args[1], ...; a placeholder without an argument stays as it is.
std::string Text(Msg id, Language language, std::initializer_list<std::string_view> args);

// The same in the program's language.
inline std::string Text(Msg id, std::initializer_list<std::string_view> args) {
    return Text(id, ProgramLanguage(), args);
}

} // namespace talorin
