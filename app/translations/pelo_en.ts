<?xml version='1.0' encoding='utf-8'?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>pelo::CAboutDlg</name>
    <message>
        <source>ﾊﾞｰｼﾞｮﾝ情報 Pelo</source>
        <translation>About Pelo</translation>
    </message>
    <message>
        <source>輪郭のギザギザをなめらかにする一括変換ツール
ERI 画像デコーダー: このプログラムの独自実装
(公開されている ERI 形式の仕様から作成)</source>
        <translation>A batch tool that smooths jagged outlines
ERI picture decoder: this program's own implementation
(written from the published description of the ERI format)</translation>
    </message>
</context>
<context>
    <name>pelo::CDetailSetDlg</name>
    <message>
        <source>輝度補正(0-1)</source>
        <translation>Gamma (0-1)</translation>
    </message>
    <message>
        <source>境界の色を混ぜるときの輝度の指数。小さいほど中間色が明るい。0〜1 (初期値 0.7)</source>
        <translation>Luminance exponent used when edge colours are mixed; lower makes in-between colours lighter. 0-1 (default 0.7)</translation>
    </message>
    <message>
        <source>純赤持ち上げ</source>
        <translation>Red lift</translation>
    </message>
    <message>
        <source>鮮やかな赤の輝度に掛ける倍率。1 で変化なし。0 以上 (初期値 1.2)</source>
        <translation>Factor on the luminance of vivid reds; 1 leaves them as they are. 0 and up (default 1.2)</translation>
    </message>
    <message>
        <source>純赤判定閾値</source>
        <translation>Red range</translation>
    </message>
    <message>
        <source>赤とみなす色相の幅 (色相 0〜255 の 0 から)。0〜255 (初期値 3)</source>
        <translation>How far from hue 0 (of 0-255) a colour still counts as red. 0-255 (default 3)</translation>
    </message>
    <message>
        <source>純紫持ち上げ</source>
        <translation>Purple lift</translation>
    </message>
    <message>
        <source>鮮やかな紫の輝度に掛ける倍率。1 で変化なし。0 以上 (初期値 1.1)</source>
        <translation>Factor on the luminance of vivid purples; 1 leaves them as they are. 0 and up (default 1.1)</translation>
    </message>
    <message>
        <source>純紫判定閾値</source>
        <translation>Purple range</translation>
    </message>
    <message>
        <source>紫とみなす色相の幅 (色相 213 から)。0〜255 (初期値 3)</source>
        <translation>How far from hue 213 a colour still counts as purple. 0-255 (default 3)</translation>
    </message>
    <message>
        <source>色相影響度</source>
        <translation>Hue influence</translation>
    </message>
    <message>
        <source>設定として保存される値。今の処理では使われない。(初期値 1.5)</source>
        <translation>Kept with the settings; the passes do not use it at present. (default 1.5)</translation>
    </message>
    <message>
        <source>色相影響閾値</source>
        <translation>Hue range</translation>
    </message>
    <message>
        <source>設定として保存される値。今の処理では使われない。0〜255 (初期値 100)</source>
        <translation>Kept with the settings; the passes do not use it at present. 0-255 (default 100)</translation>
    </message>
    <message>
        <source>初期値に戻す</source>
        <translation>Defaults</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>結果</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>検出の閾値・持ち上げ・透明部の色・処理の有無をまとめて設定する</source>
        <translation>Sets the threshold, the lifts, the hidden colour and the passes at once</translation>
    </message>
    <message>
        <source>プリセット</source>
        <translation>Preset</translation>
    </message>
    <message>
        <source>標準</source>
        <translation>Standard</translation>
    </message>
    <message>
        <source>ドット絵</source>
        <translation>Pixel art</translation>
    </message>
    <message>
        <source>イラスト</source>
        <translation>Painted</translation>
    </message>
    <message>
        <source>適用</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source>透明度の境界をなめらかにするか。自動: 透明度を持てる入力形式のときだけ</source>
        <translation>Whether edges of transparency are smoothed. Auto: only for input formats that can carry alpha</translation>
    </message>
    <message>
        <source>アルファ処理</source>
        <translation>Alpha pass</translation>
    </message>
    <message>
        <source>自動</source>
        <translation>Auto</translation>
    </message>
    <message>
        <source>する</source>
        <translation>On</translation>
    </message>
    <message>
        <source>しない</source>
        <translation>Off</translation>
    </message>
    <message>
        <source>色の処理</source>
        <translation>Colour pass</translation>
    </message>
    <message>
        <source>色の境界をなめらかにするか (オン/オフ)</source>
        <translation>Whether colour edges are smoothed (on/off)</translation>
    </message>
    <message>
        <source>完全に透明な画素の色: そのまま残すか、0 に消して結果に影響させないか</source>
        <translation>Colour of fully transparent pixels: kept as stored, or cleared to 0 so it cannot affect the result</translation>
    </message>
    <message>
        <source>透明部の色</source>
        <translation>Hidden colour</translation>
    </message>
    <message>
        <source>残す</source>
        <translation>Keep</translation>
    </message>
    <message>
        <source>消す</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>透明度を持てない出力形式のとき下に敷く色 (RRGGBB)</source>
        <translation>Colour put under the picture when the output format keeps no alpha (RRGGBB)</translation>
    </message>
    <message>
        <source>背景色</source>
        <translation>Background</translation>
    </message>
    <message>
        <source>JPEG と WebP の画質。-1 で既定 (75)、0〜100</source>
        <translation>JPEG and WebP quality. -1 for the default (75), 0-100</translation>
    </message>
    <message>
        <source>既定</source>
        <translation>Default</translation>
    </message>
    <message>
        <source>PNG の色の形式: 画素をそのまま保てる最小の形式か、常に RGBA か</source>
        <translation>PNG colour type: the smallest that keeps the pixels exactly, or always RGBA</translation>
    </message>
    <message>
        <source>PNG 形式</source>
        <translation>PNG type</translation>
    </message>
    <message>
        <source>最小</source>
        <translation>Smallest</translation>
    </message>
    <message>
        <source>画質</source>
        <translation>Quality</translation>
    </message>
</context>
<context>
    <name>pelo::CPeloDlg</name>
    <message>
        <source>Pelo -アンチエイリアジング-</source>
        <translation>Pelo - Anti-aliasing</translation>
    </message>
    <message>
        <source>入力</source>
        <translation>Input</translation>
    </message>
    <message>
        <source>指定</source>
        <translation>Browse</translation>
    </message>
    <message>
        <source>形式</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>白を透明扱い</source>
        <translation>Clear white</translation>
    </message>
    <message>
        <source>再起検索</source>
        <translation>Recursive</translation>
    </message>
    <message>
        <source>設定</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>検出(1-255)</source>
        <translation>Threshold (1-255)</translation>
    </message>
    <message>
        <source>詳細設定</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>プレビュー</source>
        <translation>Preview</translation>
    </message>
    <message>
        <source>選んだファイルの変換前と変換後を見比べる (Ctrl+P)</source>
        <translation>Compare the selected file before and after (Ctrl+P)</translation>
    </message>
    <message>
        <source>出力</source>
        <translation>Output</translation>
    </message>
    <message>
        <source>実行</source>
        <translation>Run</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>ﾊﾞｰｼﾞｮﾝ情報(Pelo) (&amp;A)...</source>
        <translation>&amp;About Pelo...</translation>
    </message>
    <message numerus="yes">
        <source>変換対象 %n 個</source>
        <translation><numerusform>%n file to convert</numerusform><numerusform>%n files to convert</numerusform></translation>
    </message>
    <message>
        <source>中止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>メモリが不足しています。</source>
        <translation>Out of memory.</translation>
    </message>
    <message>
        <source>不明なエラーが発生しました。</source>
        <translation>An unknown error occurred.</translation>
    </message>
    <message>
        <source>出力先が入力元と同じため、%1 個の入力ファイルが変換結果で置き換えられます。置き換えますか？</source>
        <translation>The output folder is the input folder, so %1 input files would be replaced by their results. Replace them?</translation>
    </message>
    <message>
        <source>完了</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>中止しました。%1 個のファイルを変換しました。</source>
        <translation>Stopped. %1 files were converted.</translation>
    </message>
    <message>
        <source>%1 個のファイルを変換できませんでした。

</source>
        <translation>%1 files could not be converted.

</translation>
    </message>
    <message>
        <source>画像ﾌｧｲﾙ入力元ﾌｫﾙﾀﾞｰを指定して下さい</source>
        <translation>Choose the folder of the input pictures</translation>
    </message>
    <message>
        <source>画像ﾌｧｲﾙ出力先ﾌｫﾙﾀﾞｰを指定して下さい</source>
        <translation>Choose the folder for the output pictures</translation>
    </message>
</context>
<context>
    <name>pelo::CPreviewWnd</name>
    <message>
        <source>プレビュー</source>
        <translation>Preview</translation>
    </message>
    <message>
        <source>分割</source>
        <translation>Split</translation>
    </message>
    <message>
        <source>切り替え</source>
        <translation>Toggle</translation>
    </message>
    <message>
        <source>左右に並べて比べるか、Space キーで前後を切り替えるか</source>
        <translation>Side by side across a divider, or one at a time flipped with Space</translation>
    </message>
    <message>
        <source>市松模様</source>
        <translation>Checkerboard</translation>
    </message>
    <message>
        <source>白</source>
        <translation>White</translation>
    </message>
    <message>
        <source>黒</source>
        <translation>Black</translation>
    </message>
    <message>
        <source>その他の色...</source>
        <translation>Other colour...</translation>
    </message>
    <message>
        <source>詳細設定</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>表示</source>
        <translation>View</translation>
    </message>
    <message>
        <source>倍率</source>
        <translation>Zoom</translation>
    </message>
    <message>
        <source>背景</source>
        <translation>Background</translation>
    </message>
    <message>
        <source>検出(1-255)</source>
        <translation>Threshold (1-255)</translation>
    </message>
    <message>
        <source>プレビュー - </source>
        <translation>Preview - </translation>
    </message>
    <message>
        <source>読み込めません: %1</source>
        <translation>Cannot read: %1</translation>
    </message>
    <message>
        <source>ファイルがありません</source>
        <translation>No file</translation>
    </message>
    <message>
        <source>計算中...</source>
        <translation>Computing...</translation>
    </message>
    <message>
        <source>作業領域が足りません</source>
        <translation>No work area for smoothing</translation>
    </message>
    <message>
        <source>変化した画素 %1% (%2)</source>
        <translation>%1% of pixels changed (%2)</translation>
    </message>
</context>
<context>
    <name>pelo::DataExchange</name>
    <message>
        <source>数値を入力してください。</source>
        <translation>Enter a number.</translation>
    </message>
    <message>
        <source>正の整数を入力してください。</source>
        <translation>Enter a positive whole number.</translation>
    </message>
</context>
</TS>