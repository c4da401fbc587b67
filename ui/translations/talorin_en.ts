<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>OutputOptionsDialog</name>
    <message>
        <source>出力オプション</source>
        <translation>Output Options</translation>
    </message>
    <message>
        <source>地形に合わせて分割の深さを変える(&amp;A)</source>
        <translation>&amp;Adapt the subdivision depth to the terrain</translation>
    </message>
    <message>
        <source>再帰回数を上限として、地形が許容誤差より大きくずれる所だけ細かく分割します</source>
        <translation>Subdivides finer, up to the depth, only where the terrain strays from the surface by more than the tolerance</translation>
    </message>
    <message>
        <source>許容誤差(&amp;E):</source>
        <translation>Tol&amp;erance:</translation>
    </message>
    <message>
        <source>高さと同じ単位で、0 より大きい数です</source>
        <translation>A number greater than 0, in the same unit as the height</translation>
    </message>
    <message>
        <source>台座を付ける(&amp;B)</source>
        <translation>Add a &amp;base</translation>
    </message>
    <message>
        <source>地形の縁から平らな底まで壁を付けて、印刷できる立体にします。OBJ, STL, PLY, glb で保存するときに付き、.suf には付きません</source>
        <translation>Adds walls from the terrain&apos;s edge down to a flat bottom, making a printable solid. Added when saving OBJ, STL, PLY or glb, never to .suf</translation>
    </message>
    <message>
        <source>台座の厚さ(&amp;D):</source>
        <translation>Base &amp;depth:</translation>
    </message>
    <message>
        <source>高さ 0 から底までの深さ。高さと同じ単位で、0 より大きい数です</source>
        <translation>The depth from height 0 to the bottom: a number greater than 0, in the same unit as the height</translation>
    </message>
    <message>
        <source>縦横比(&amp;P):</source>
        <translation>&amp;Proportions:</translation>
    </message>
    <message>
        <source>正方形 (一辺がサイズ)</source>
        <translation>Square (each side is the size)</translation>
    </message>
    <message>
        <source>画像と同じ (長い辺がサイズ)</source>
        <translation>As the image (the long side is the size)</translation>
    </message>
    <message>
        <source>高さをなめらかにする(&amp;S)</source>
        <translation>&amp;Smooth heights</translation>
    </message>
    <message>
        <source>点の高さを、まわりの 4 つの画素の明るさから補間して求めます</source>
        <translation>Interpolates each point&apos;s height from the brightness of the 4 pixels around it</translation>
    </message>
    <message>
        <source>台座の厚さは 0 より大きい数で指定してください</source>
        <translation>The base depth must be greater than 0</translation>
    </message>
    <message>
        <source>実寸(&amp;T)</source>
        <translation>&amp;True scale</translation>
    </message>
    <message>
        <source>高さの倍率(&amp;X):</source>
        <translation>Height e&amp;xaggeration:</translation>
    </message>
    <message>
        <source>起伏を何倍にするか。0 より大きい数です</source>
        <translation>How many times the relief; a number greater than 0</translation>
    </message>
    <message>
        <source>大きさと高さを、標高データの実際の広さと起伏 (メートル) にします</source>
        <translation>Makes the size and height the elevation data&apos;s real extent and relief (metres)</translation>
    </message>
    <message>
        <source>高さの倍率は 0 より大きい数で指定してください</source>
        <translation>The height exaggeration must be a number greater than 0</translation>
    </message>
</context>
<context>
    <name>QFileDialog</name>
    <message>
        <source>%1
Directory not found.
Please verify the correct directory name was given.</source>
        <translation>%1
Directory not found.
Please verify the correct directory name was given.</translation>
    </message>
</context>
<context>
    <name>TTalorin_main</name>
    <message>
        <source>Quiro形状ファイル (*.suf)</source>
        <translation>Quiro shape files (*.suf)</translation>
    </message>
    <message>
        <source>Talorinプロジェクト (*.talorin)</source>
        <translation>Talorin projects (*.talorin)</translation>
    </message>
    <message>
        <source>STL バイナリ (*.stl)</source>
        <translation>STL binary (*.stl)</translation>
    </message>
    <message>
        <source>PLY バイナリ (*.ply)</source>
        <translation>PLY binary (*.ply)</translation>
    </message>
    <message>
        <source>glTF バイナリ (*.glb)</source>
        <translation>glTF binary (*.glb)</translation>
    </message>
    <message>
        <source>地形形状を生成しています…</source>
        <translation>Generating the terrain…</translation>
    </message>
    <message>
        <source>ファイルに書き込んでいます…</source>
        <translation>Writing the file…</translation>
    </message>
    <message>
        <source>前の形状を解放しています…</source>
        <translation>Freeing the previous shape…</translation>
    </message>
    <message>
        <source>ファイル(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>BMPファイルを開く(&amp;O)</source>
        <translation>&amp;Open Image</translation>
    </message>
    <message>
        <source>プロジェクトを開く(&amp;P)...</source>
        <translation>Open &amp;Project...</translation>
    </message>
    <message>
        <source>プロジェクトを保存(&amp;S)</source>
        <translation>&amp;Save Project</translation>
    </message>
    <message>
        <source>名前を付けてプロジェクトを保存(&amp;A)...</source>
        <translation>Save Project &amp;As...</translation>
    </message>
    <message>
        <source>SUFファイルを出力する(&amp;E)</source>
        <translation>&amp;Export SUF File</translation>
    </message>
    <message>
        <source>出力オプション(&amp;O)...</source>
        <translation>Output &amp;Options...</translation>
    </message>
    <message>
        <source>終了(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>編集(&amp;E)</source>
        <translation>&amp;Edit</translation>
    </message>
    <message>
        <source>元に戻す(&amp;U)</source>
        <translation>&amp;Undo</translation>
    </message>
    <message>
        <source>やり直し(&amp;R)</source>
        <translation>&amp;Redo</translation>
    </message>
    <message>
        <source>表示(&amp;V)</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <source>3Dビュー(&amp;3)</source>
        <translation>&amp;3D View</translation>
    </message>
    <message>
        <source>ヘルプ(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>ヴァージョン情報(&amp;A)...</source>
        <translation>&amp;About...</translation>
    </message>
    <message>
        <source>最近使ったファイル(&amp;R)</source>
        <translation>&amp;Recent Files</translation>
    </message>
    <message>
        <source>読み込んだ等高線画像です。クリックするとメッシュの密度が変化します。</source>
        <translation>The contour image. A click changes the mesh density around it.</translation>
    </message>
    <message>
        <source>初期化</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>メッシュの形を初期化します  わけがわかんなくなったら押しましょう。</source>
        <translation>Resets the mesh. Press it when you have lost track.</translation>
    </message>
    <message>
        <source>地形形状作成保存</source>
        <translation>Generate and Save</translation>
    </message>
    <message>
        <source>形状を生成・出力します</source>
        <translation>Generates the shape and saves it</translation>
    </message>
    <message>
        <source>山の形の極端さ加減を調整します</source>
        <translation>Sets how extreme the mountain profile is</translation>
    </message>
    <message>
        <source>メッシュ  密度</source>
        <translation>Density</translation>
    </message>
    <message>
        <source>山のかたち</source>
        <translation>Profile</translation>
    </message>
    <message>
        <source>四角形ポリゴンで出力</source>
        <translation>Quad polygons</translation>
    </message>
    <message>
        <source>すべて四角形で出力します  四つの頂点が平面上に乗っている保証はありません</source>
        <translation>Writes quadrilaterals only; their four corners need not lie in one plane</translation>
    </message>
    <message>
        <source>三角形ポリゴンで出力</source>
        <translation>Triangle polygons</translation>
    </message>
    <message>
        <source>すべてを三角形で出力します  ポリゴン数はかなり増えます</source>
        <translation>Writes triangles only; there will be many more polygons</translation>
    </message>
    <message>
        <source>UV 座標付加</source>
        <translation>UV coordinates</translation>
    </message>
    <message>
        <source>UV座標をつけて出力します 最大値255の実数値です</source>
        <translation>Writes UV coordinates, real numbers up to 255</translation>
    </message>
    <message>
        <source>法線ベクトル付加</source>
        <translation>Normals</translation>
    </message>
    <message>
        <source>法線ベクトルをつけて出力する…はずですがまだ実装されていません</source>
        <translation>Would write normal vectors, but this is not implemented yet</translation>
    </message>
    <message>
        <source>オブジェクト名</source>
        <translation>Object</translation>
    </message>
    <message>
        <source>出力形状につけるオブジェクト名です</source>
        <translation>The object name of the shape written</translation>
    </message>
    <message>
        <source>アトリビュート名</source>
        <translation>Attribute</translation>
    </message>
    <message>
        <source>出力するポリゴンのアトリビュート名です アトリビュートは別個用意してください</source>
        <translation>The attribute name of the polygons written; the attribute itself must be provided separately</translation>
    </message>
    <message>
        <source>大きさ</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>出力形状の大きさです</source>
        <translation>The size of the shape written</translation>
    </message>
    <message>
        <source>高さ</source>
        <translation>Ht.</translation>
    </message>
    <message>
        <source>四方</source>
        <translation>sq.</translation>
    </message>
    <message>
        <source>出力形状の高さです</source>
        <translation>The height of the shape written</translation>
    </message>
    <message>
        <source>再帰的に分割する回数を指定します 1増えるとポリゴン数は4倍になります</source>
        <translation>How many times to subdivide; each more multiplies the polygon count by 4</translation>
    </message>
    <message>
        <source>再帰回数</source>
        <translation>Depth</translation>
    </message>
    <message>
        <source>ポリゴン数：</source>
        <translation>Polygons:</translation>
    </message>
    <message>
        <source>山の形を横から見た図です</source>
        <translation>The mountain profile seen from the side</translation>
    </message>
    <message>
        <source>山の形(富士山のようなかたち）</source>
        <translation>Profile: peak</translation>
    </message>
    <message>
        <source>山の形（ドーム）</source>
        <translation>Profile: dome</translation>
    </message>
    <message>
        <source>山の形（丘）</source>
        <translation>Profile: hill</translation>
    </message>
    <message>
        <source>全体的なメッシュの密度を変更できます</source>
        <translation>Changes the density of the whole mesh</translation>
    </message>
    <message>
        <source>%1 への変更をプロジェクトに保存しますか?</source>
        <translation>Save the changes to %1 in the project?</translation>
    </message>
    <message>
        <source>プロジェクトの画像 %1 が見つかりません。画像を選んでください</source>
        <translation>The project&apos;s image %1 was not found. Please choose the image</translation>
    </message>
    <message>
        <source>画像 %1 の内容がプロジェクトを保存したときと違います。高さが変わっています</source>
        <translation>The image %1 has changed since the project was saved. The heights have changed</translation>
    </message>
    <message>
        <source>%1 は等高線画像です。別のファイル名を指定してください</source>
        <translation>%1 is the contour image. Please choose another file name</translation>
    </message>
    <message>
        <source>(なし)</source>
        <translation>(none)</translation>
    </message>
    <message>
        <source>%1 が見つかりません。最近使ったファイルから外しました</source>
        <translation>%1 was not found and has been removed from the recent files</translation>
    </message>
    <message>
        <source>画像ファイル (*.bmp *.png *.pgm *.ppm *.tif *.tiff);;BMPファイル (*.bmp);;PNGファイル (*.png);;PGMファイル (*.pgm);;PPMファイル (*.ppm);;TIFFファイル (*.tif *.tiff);;すべてのファイル (*)</source>
        <translation>Image files (*.bmp *.png *.pgm *.ppm *.tif *.tiff);;BMP files (*.bmp);;PNG files (*.png);;PGM files (*.pgm);;PPM files (*.ppm);;TIFF files (*.tif *.tiff);;All files (*)</translation>
    </message>
    <message>
        <source>プロジェクトと画像 (*.talorin *.bmp *.png *.pgm *.ppm *.tif *.tiff);;</source>
        <translation>Projects and images (*.talorin *.bmp *.png *.pgm *.ppm *.tif *.tiff);;</translation>
    </message>
    <message>
        <source>画像が読み込まれていません</source>
        <translation>No image is loaded</translation>
    </message>
</context>
<context>
    <name>Talorin</name>
    <message>
        <source>%1 バイト</source>
        <translation>%1 bytes</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>保存しない</source>
        <translation>Don&apos;t Save</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>プレビュー: 再帰回数 %1</source>
        <translation>Preview: depth %1</translation>
    </message>
    <message>
        <source>出力した形状: ポリゴン数 %1</source>
        <translation>Saved shape: %1 polygons</translation>
    </message>
    <message>
        <source>出力した形状（縮小表示）: ポリゴン数 %1</source>
        <translation>Saved shape (reduced view): %1 polygons</translation>
    </message>
    <message>
        <source>形状ファイル (*.suf)</source>
        <translation>Shape files (*.suf)</translation>
    </message>
    <message>
        <source>Talorin-地面形状生成支援プログラム</source>
        <translation>Talorin - terrain shape generator</translation>
    </message>
    <message>
        <source>3Dビューを表示できません。
OpenGL を開始できませんでした（ディスプレイまたはグラフィックス ドライバーがありません）。
ほかの機能はこれまでどおり使えます。</source>
        <translation>The 3D view cannot be shown.
OpenGL could not start (there is no display or graphics driver).
Everything else works as before.</translation>
    </message>
    <message>
        <source>メモリーが足りないため、この形状を3Dビューに表示できません。</source>
        <translation>There is not enough memory to show this shape in the 3D view.</translation>
    </message>
</context>
<context>
    <name>TerrainViewWindow</name>
    <message>
        <source>3Dビュー</source>
        <translation>3D View</translation>
    </message>
</context>
</TS>
