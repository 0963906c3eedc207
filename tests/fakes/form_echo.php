<?php
// Answers what PHP's own form parser made of the request: the method, $_POST and,
// for every uploaded file, its name, type, size, upload error and MD5.
$files = [];
foreach ($_FILES as $field => $file) {
    $files[$field] = [
        'name' => $file['name'],
        'type' => $file['type'],
        'size' => $file['size'],
        'error' => $file['error'],
        'md5' => $file['error'] === UPLOAD_ERR_OK ? md5_file($file['tmp_name']) : null,
    ];
}
header('Content-Type: application/json');
echo json_encode(['method' => $_SERVER['REQUEST_METHOD'], 'post' => $_POST, 'files' => $files],
                 JSON_UNESCAPED_UNICODE | JSON_UNESCAPED_SLASHES);
